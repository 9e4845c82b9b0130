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
    parser.addOptions({port, data, media, lifetime});
    parser.process(application);

    SampleServer::Options options;
    options.port = quint16(parser.value(port).toUInt());
    options.dataFolder = parser.value(data);
    options.mediaFolder = parser.value(media);
    options.accessTokenLifetimeSeconds = qMax(1LL, parser.value(lifetime).toLongLong());
    SampleServer server(options);
    if (!server.start()) {
        QTextStream(stderr) << "quorin-sample-server: " << server.errorString() << Qt::endl;
        return 1;
    }
    QTextStream(stdout) << "quorin-sample-server: listening on " << server.baseUrl().toString()
                        << " (certificate authority "
                        << quorin::test::FixturePaths::certificateAuthorityFile() << ")" << Qt::endl;
    return QCoreApplication::exec();
}
