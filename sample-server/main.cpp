#include "sample-server/SampleServer.h"
#include "testsupport/FixturePaths.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QTextStream>

int main(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Sample learning platform for the Quorin Desktop demo"));
    parser.addHelpOption();
    const QCommandLineOption port(QStringLiteral("port"), QStringLiteral("Port on localhost (default 8443)."),
                                  QStringLiteral("port"), QStringLiteral("8443"));
    const QCommandLineOption data(QStringLiteral("data"),
                                  QStringLiteral("Folder of the sample JSON answers."),
                                  QStringLiteral("folder"), QStringLiteral(QUORIN_SAMPLE_DATA_DIR));
    const QCommandLineOption media(QStringLiteral("media"), QStringLiteral("Folder served below /media/."),
                                   QStringLiteral("folder"), quorin::test::FixturePaths::mediaFolder());
    const QCommandLineOption lifetime(QStringLiteral("access-token-lifetime"),
                                      QStringLiteral("Seconds an access token stays valid (default 900)."),
                                      QStringLiteral("seconds"), QStringLiteral("900"));
    const QCommandLineOption releaseMode(
        QStringLiteral("release-mode"),
        QStringLiteral(
            "What the release service offers: optional, required, none, corrupt (an installer that "
            "fails verification) or unavailable (503) (default optional)."),
        QStringLiteral("mode"), QStringLiteral("optional"));
    const QCommandLineOption releases(QStringLiteral("releases"),
                                      QStringLiteral("Folder served below /releases/."),
                                      QStringLiteral("folder"), quorin::test::FixturePaths::releaseFolder());
    const QCommandLineOption signingKey(
        QStringLiteral("signing-key"), QStringLiteral("PEM Ed25519 key that signs the release."),
        QStringLiteral("file"), quorin::test::FixturePaths::updateSigningKeyFile());
    const QCommandLineOption progressUnavailable(
        QStringLiteral("progress-unavailable"),
        QStringLiteral("Answer completion marks with 503, as a backend that is down would."));
    const QCommandLineOption holdQuizStart(
        QStringLiteral("hold-quiz-start"),
        QStringLiteral(
            "Hold every attempt start of this quiz for 4 seconds, then refuse it with 503 and begin "
            "nothing, so that the client's start placeholder can be seen."),
        QStringLiteral("quiz id"));
    parser.addOptions(
        {port, data, media, lifetime, releaseMode, releases, signingKey, progressUnavailable, holdQuizStart});
    parser.process(application);
    const std::optional<SampleServer::ReleaseMode> mode =
        SampleReleaseService::modeFromName(parser.value(releaseMode));
    if (!mode) {
        QTextStream(stderr)
            << "quorin-sample-server: --release-mode takes optional, required, none, corrupt or unavailable"
            << Qt::endl;
        return 1;
    }

    SampleServer::Options options;
    options.port = quint16(parser.value(port).toUInt());
    options.dataFolder = parser.value(data);
    options.mediaFolder = parser.value(media);
    options.accessTokenLifetimeSeconds = qMax(1LL, parser.value(lifetime).toLongLong());
    options.releaseMode = *mode;
    options.releaseFolder = parser.value(releases);
    options.signingKeyFile = parser.value(signingKey);
    options.progressUnavailable = parser.isSet(progressUnavailable);
    options.heldStartQuiz = parser.value(holdQuizStart);
    SampleServer server(options);
    if (!server.start()) {
        QTextStream(stderr) << "quorin-sample-server: " << server.errorString() << Qt::endl;
        return 1;
    }
    if (!server.warningString().isEmpty())
        QTextStream(stderr) << "quorin-sample-server: " << server.warningString() << Qt::endl;
    QTextStream(stdout) << "quorin-sample-server: listening on " << server.baseUrl().toString()
                        << " (certificate authority "
                        << quorin::test::FixturePaths::certificateAuthorityFile() << ")" << Qt::endl;
    return QCoreApplication::exec();
}
