// One download without any application object, as a tool would run it: prints the result and
// the last status, "true 200" for example. Arguments: URL, destination file.
#include "core/sources/Download.h"

#include <cstdio>

int main(int argc, char** argv)
{
    if (argc != 3)
        return 2;
    TDownload download;
    const bool result = download.StartDownload(QString::fromLocal8Bit(argv[1]),
                                               QString::fromLocal8Bit(argv[2]), nullptr, nullptr);
    std::printf("%s %d\n", result ? "true" : "false", download.LastResponseCode());
    return 0;
}
