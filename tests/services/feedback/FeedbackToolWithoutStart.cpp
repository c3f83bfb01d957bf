// A feedback tool library that loads but lacks the start function the updater looks for.
extern "C" __attribute__((visibility("default"))) int feedbackVersion()
{
    return 1;
}
