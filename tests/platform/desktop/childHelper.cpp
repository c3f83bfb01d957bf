// A child for the process tests, plain C++ so that it stays small: writes its working folder and
// then its arguments, one per line, to the file named by VORLANDT_CHILD_REPORT, waits
// VORLANDT_CHILD_SLEEP_MS milliseconds and ends with the status VORLANDT_CHILD_EXIT (decimal or
// 0x hexadecimal, all 32 bits).
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

int main(int argc, char** argv)
{
    if (const char* report = std::getenv("VORLANDT_CHILD_REPORT")) {
        std::ofstream out(report, std::ios::binary);
        out << std::filesystem::current_path().string() << '\n';
        for (int i = 1; i < argc; ++i)
            out << argv[i] << '\n';
    }
    if (const char* sleep = std::getenv("VORLANDT_CHILD_SLEEP_MS"))
        std::this_thread::sleep_for(std::chrono::milliseconds(std::strtol(sleep, nullptr, 10)));
    const char* status = std::getenv("VORLANDT_CHILD_EXIT");
    return status ? static_cast<int>(std::strtoul(status, nullptr, 0)) : 0;
}
