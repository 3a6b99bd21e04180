#pragma once

#include <sys/types.h>

#include <JxLib/JxExport.h>

// A logging context. It takes its destination and level from the environment when it is
// constructed: JX_LOG_FILE (appended to, created when missing; standard error when unset
// or empty) and JX_DEBUG_LEVEL (decimal, default 0).
//
// Writing a line takes no lock and allocates nothing, so an EvEvent inherited by a child
// forked from a multi-threaded process can still be written through before exec.
class JXLIB_API EvEvent {
  public:
    EvEvent();
    ~EvEvent();
    EvEvent(const EvEvent&) = delete;
    EvEvent& operator=(const EvEvent&) = delete;

    int Level() const { return m_level; }

    // Writes one finished line with a single write(2).
    void WriteLine(const char* line, size_t length) const;

  private:
    bool keptDescriptorIsOurs() const;

    enum { kPathCapacity = 4096 };
    char m_path[kPathCapacity];  // empty: standard error
    int m_level;
    int m_fd;  // kept open for speed; verified before every use
    dev_t m_device;
    ino_t m_inode;
};

// The two ways of writing through an EvEvent. A null event writes nothing.
//
// Each call writes one line:
//   YYYY-MM-DD HH:MM:SS.uuuuuu <pid> <tid> [<tag>] <message>
// with the time in UTC; lines longer than 4 KiB are cut.
class JXLIB_API EvDebug {
  public:
    // Always writes.
    static void Debug(const EvEvent* event, const char* tag, const char* format, ...)
        __attribute__((format(printf, 3, 4)));

    // Writes when the event's level is level or more.
    static void DebugLvl(const EvEvent* event, const char* tag, int level, const char* format, ...)
        __attribute__((format(printf, 4, 5)));
};
