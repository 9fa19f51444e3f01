// Any bytes as FileList.txt, through the whole update on a file system in memory: the update ends
// with one message and the pointer put back, and writes nothing outside the install folder.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "fakes.h"
#include "test_support.h"
#include "zelvane/engine/package_list.h"
#include "zelvane/engine/update.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // An install, a subfolder, and package files named the way the seed lists name them.
    const std::string install = "/Program Files/Zelvane", package = "/media/package/";
    zelvane::test::MemoryFileSystem files(install, package);
    for (const char* marker : zelvane::kMarkerFiles) files.AddFile(install + "/" + marker, "marker");
    files.AddFile(install + "/" + zelvane::kControlFile, "control");
    files.AddFolder(install + "/Help");
    files.AddFile("/etc/passwd", "root");
    for (const char* source : {"file00000.bin", "file00001.bin", "file00002.bin", "p", "p0", "p1",
                               "a", "b", "Help/x.bin"}) {
        files.AddFile(package + source, std::string(source) + " content");
    }
    files.AddFolder(package + "folder.bin");
    files.AddFile(zelvane::kPackageListName,
                  std::string(reinterpret_cast<const char*>(data), size));
    zelvane::test::RecordingProcesses processes(files);
    zelvane::test::RecordingWindow window(install, true);
    zelvane::RunUpdate({window, files, processes});
    for (const auto& path : files.WritesOutside()) {
        std::fprintf(stderr, "written outside the install folder: %s\n", path.c_str());
    }
    if (!files.WritesOutside().empty() || window.messages.size() != 1 ||
        window.pointer != zelvane::PointerShape::Default) {
        std::abort();
    }
    return 0;
}
