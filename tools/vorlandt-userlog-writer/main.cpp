// vorlandt-userlog-writer: see LogWriter.h.
#include "LogWriter.h"

int main(int argc, char** argv)
{
    return userlogwriter::Main(argc, argv);
}
