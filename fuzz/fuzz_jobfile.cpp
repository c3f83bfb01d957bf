// libFuzzer entry for the demo installer's job file reader: any bytes give jobs or a clear error,
// and every job it accepts carries what a job line must.
#include "JobFile.h"

#include "core/platform/VorlandtError.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    try {
        const QList<TJob> jobs = ParseJobFile(QStringLiteral("VL_Update_Jobfile.vuj"), bytes);
        for (const TJob& job : jobs) {
            if (job.LineNumber < 1 || job.DescriptorPath.isEmpty())
                std::abort();
        }
    } catch (const EVorlandtError&) {
    }
    return 0;
}
