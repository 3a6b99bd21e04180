#pragma once

#include <sys/types.h>
#include <unistd.h>

#include <cstdarg>

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
    // The same with the two settings given as the variables would hold them (null: unset)
    // instead of read from the environment, for a caller that copied them beforehand.
    EvEvent(const char* logFile, const char* debugLevel);
    ~EvEvent();
    EvEvent(const EvEvent&) = delete;
    EvEvent& operator=(const EvEvent&) = delete;

    int Level() const { return m_level; }

    // Writes one finished line with a single write(2). A line that cannot go to the file
    // (none configured, or it cannot be opened) goes to fallback instead: standard error
    // unless the writer says otherwise, nowhere when fallback is -1.
    void WriteLine(const char* line, size_t length, int fallback = STDERR_FILENO) const;

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
// with the time in UTC; lines longer than 4 KiB are cut. Control characters of the message
// other than tab are written escaped (\n, \r, \xHH), so that whatever a message carries,
// one call is one line and no text can pass for a line of its own.
class JXLIB_API EvDebug {
  public:
    // Always writes.
    static void Debug(const EvEvent* event, const char* tag, const char* format, ...)
        __attribute__((format(printf, 3, 4)));

    // Writes when the event's level is level or more.
    static void DebugLvl(const EvEvent* event, const char* tag, int level, const char* format, ...)
        __attribute__((format(printf, 4, 5)));

    // The same for a process whose standard error is no longer the log's to use, such as a
    // launched child that has handed its standard streams to the program it is about to
    // execute: a line that would fall back to standard error goes to the descriptor
    // fallback instead (a copy of the original standard error), nowhere when it is -1.
    static void DebugWithFallback(const EvEvent* event, int fallback, const char* tag,
                                  const char* format, ...) __attribute__((format(printf, 4, 5)));
    static void DebugLvlWithFallback(const EvEvent* event, int fallback, const char* tag, int level,
                                     const char* format, ...) __attribute__((format(printf, 5, 6)));
    // DebugLvlWithFallback for a caller that has its own variable arguments.
    static void VDebugLvlWithFallback(const EvEvent* event, int fallback, const char* tag,
                                      int level, const char* format, va_list args)
        __attribute__((format(printf, 5, 0)));
};
