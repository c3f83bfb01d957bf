// A second process for the store tests: writes a run of values, or, started as another user,
// reports what it can read, whether it counts as administrator, and whether it may write.
#include "core/platform/VorlandtError.h"
#include "core/services/Registry.h"

#include <QString>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

int usage()
{
    std::fputs(
        "usage: storeHelper write user|machine KEY PREFIX COUNT\n"
        "       storeHelper probe user|machine KEY NAME\n",
        stderr);
    return 2;
}

void print(const QString& line)
{
    std::fputs(line.toUtf8().append('\n').constData(), stdout);
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 6)
        return usage();
    const TRootKey root = std::strcmp(argv[2], "machine") == 0 ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;
    const QString key = QString::fromUtf8(argv[3]);
    const QString name = QString::fromUtf8(argv[4]);
    try {
        if (std::strcmp(argv[1], "write") == 0) {
            const int count = std::atoi(argv[5]);
            for (int i = 0; i < count; ++i)
                WriteIntegerValue(root, key, name + QString::number(i), i);
            return 0;
        }
        if (std::strcmp(argv[1], "probe") == 0) {
            print(QStringLiteral("value=") + ReadStringValue(root, key, name, QStringLiteral("<missing>")));
            print(QStringLiteral("admin=") +
                  (HasAdminRights() ? QStringLiteral("true") : QStringLiteral("false")));
            try {
                WriteStringValue(root, key, name + QStringLiteral("_probe"), QString::fromUtf8(argv[5]));
                print(QStringLiteral("write=ok"));
            } catch (const EVorlandtError& e) {
                print(QStringLiteral("write=") + e.message());
            }
            return 0;
        }
    } catch (const EVorlandtError& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
    return usage();
}
