#pragma once

#include <QString>

namespace quorin::test {

// Where the build put the generated fixtures: the test certificate authority and "localhost"
// certificate, the media made by ffmpeg, the sample PDFs, the sample release's installer and the
// demo key that signs it.
class FixturePaths
{
public:
    [[nodiscard]] static QString root();
    [[nodiscard]] static QString certificateAuthorityFile();
    [[nodiscard]] static QString serverCertificateFile();
    [[nodiscard]] static QString serverKeyFile();
    [[nodiscard]] static QString mediaFolder();
    [[nodiscard]] static QString mediaFile(const QString &relativePath);
    // The folder the sample platform serves below "/releases/".
    [[nodiscard]] static QString releaseFolder();
    // The demo update-signing key (PEM) of a build without a release keyring.
    [[nodiscard]] static QString updateSigningKeyFile();
};

} // namespace quorin::test
