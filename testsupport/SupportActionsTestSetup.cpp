#include "testsupport/SupportActionsTestSetup.h"

#include "testsupport/DownloadsFolder.h"

#include <QClipboard>
#include <QCryptographicHash>
#include <QDesktopServices>
#include <QDir>
#include <QGuiApplication>
#include <QProcess>

namespace quorin::test {

namespace {

const QStringList kCapturedSchemes = {QStringLiteral("file"), QStringLiteral("https")};

} // namespace

SupportActionsTestSetup::SupportActionsTestSetup()
{
    AppFailure::registerMetaType();
    for (const QString &scheme : kCapturedSchemes)
        QDesktopServices::setUrlHandler(scheme, this, "openUrl");
}

SupportActionsTestSetup::~SupportActionsTestSetup()
{
    cleanupTestCase();
}

void SupportActionsTestSetup::cleanupTestCase()
{
    for (const QString &scheme : kCapturedSchemes)
        QDesktopServices::unsetUrlHandler(scheme);
}

void SupportActionsTestSetup::openUrl(const QUrl &url)
{
    m_openedUrls.append(url.toString());
    Q_EMIT urlOpened(url.toString());
}

QString SupportActionsTestSetup::clipboardText() const
{
    const QClipboard *clipboard = QGuiApplication::clipboard();
    return clipboard ? clipboard->text(QClipboard::Clipboard) : QString();
}

void SupportActionsTestSetup::setClipboardText(const QString &text)
{
    if (QClipboard *clipboard = QGuiApplication::clipboard())
        clipboard->setText(text, QClipboard::Clipboard);
}

AppFailure SupportActionsTestSetup::failure(const QString &code, const QString &userMessage,
                                            const QString &technicalDetails) const
{
    AppFailure failure = AppFailure::local(code, userMessage, QStringLiteral("test"), false);
    failure.technicalDetails = technicalDetails;
    return failure;
}

QString SupportActionsTestSetup::downloadsFolder() const
{
    return DownloadsFolder::path();
}

bool SupportActionsTestSetup::blockDownloadsFolder() const
{
    return DownloadsFolder::block();
}

bool SupportActionsTestSetup::unblockDownloadsFolder() const
{
    return DownloadsFolder::unblock();
}

QStringList SupportActionsTestSetup::filesIn(const QString &folder) const
{
    return QDir(folder).entryList(QDir::Files | QDir::Hidden, QDir::Name);
}

QString SupportActionsTestSetup::zipEntryText(const QString &archive, const QString &entry) const
{
    QProcess unzip;
    unzip.start(QStringLiteral("unzip"), {QStringLiteral("-p"), archive, entry});
    if (!unzip.waitForFinished(60000) || unzip.exitStatus() != QProcess::NormalExit || unzip.exitCode() != 0)
        return {};
    return QString::fromUtf8(unzip.readAllStandardOutput());
}

QString SupportActionsTestSetup::sha256Prefix(const QString &text) const
{
    return QString::fromLatin1(
        QCryptographicHash::hash(text.toUtf8(), QCryptographicHash::Sha256).toHex().left(12));
}

} // namespace quorin::test
