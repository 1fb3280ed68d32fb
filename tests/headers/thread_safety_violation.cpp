// Compiled by the thread_safety_analysis test only, never linked: with
// VIOLATION=1 a guarded member is read without its guard, with VIOLATION=2
// two guards are taken against their declared order. Clang's -Wthread-safety
// (-beta for the order) must refuse both; without VIOLATION it must compile.
#include <krerrlog/support/KrErrLogCriticalSection.h>
#include <krerrlog/support/KrErrLogGuard.h>

struct Outputs {
    CKrErrLogGuard first KRERRLOG_ACQUIRED_BEFORE(second);
    CKrErrLogGuard second;
    CKrErrLogCriticalSection section;
    int lines KRERRLOG_GUARDED_BY(first) = 0;
    int bytes KRERRLOG_GUARDED_BY(section) = 0;

    int Read()
    {
        CKrErrLogPrivAutoCS hold(section);
#if VIOLATION == 1
        return lines + bytes;
#else
        CKrErrLogAutoReader reader(&first);
        return lines + bytes;
#endif
    }

    void Both()
    {
#if VIOLATION == 2
        CKrErrLogAutoWriter later(&second);
        CKrErrLogAutoWriter earlier(&first);
#else
        CKrErrLogAutoWriter earlier(&first);
        CKrErrLogAutoWriter later(&second);
#endif
        ++lines;
    }
};

int UseOutputs(Outputs& outputs)
{
    outputs.Both();
    return outputs.Read();
}
