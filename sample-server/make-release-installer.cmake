# Writes the sample release's installer: a few hundred KiB of fixed bytes. It is no package (no
# archive header), so nothing can install it; the demo only downloads and verifies it.
# Usage: cmake -DOUTPUT=<file> -P make-release-installer.cmake
set(line "Quorin Desktop 1.0.9 (build 23), sample release of the demo platform. This is not a package.\n")
string(REPEAT "${line}" 3200 content)
get_filename_component(folder "${OUTPUT}" DIRECTORY)
file(MAKE_DIRECTORY "${folder}")
file(WRITE "${OUTPUT}" "${content}")
