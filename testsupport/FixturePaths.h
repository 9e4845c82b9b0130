#pragma once

#include <QString>

namespace quorin::test {

// Where the build put the generated fixtures: the test certificate authority and "localhost"
// certificate, the media made by ffmpeg and the sample PDFs.
class FixturePaths
{
public:
    [[nodiscard]] static QString root();
    [[nodiscard]] static QString certificateAuthorityFile();
    [[nodiscard]] static QString serverCertificateFile();
    [[nodiscard]] static QString serverKeyFile();
    [[nodiscard]] static QString mediaFolder();
    [[nodiscard]] static QString mediaFile(const QString &relativePath);
};

} // namespace quorin::test
