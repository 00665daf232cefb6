#pragma once

#include <string>

#include "base/scoped_handle.h"

// The process-wide log: one stamped line per call, appended to
// "logs\SimpleLogger.log" and repeated on standard output.
class CSimpleLogger {
public:
    // Creates the instance on first use; never returns null.
    static CSimpleLogger* GetInstance();

    // Writes "[YYYY.MM.DD HH:MM:SS]:" followed by the message's bytes as one
    // line. A null message logs an empty line.
    void Log(const char* message);

    virtual ~CSimpleLogger();

    CSimpleLogger(const CSimpleLogger&) = delete;
    CSimpleLogger& operator=(const CSimpleLogger&) = delete;

private:
    CSimpleLogger();
    void AppendToFile(const std::string& text);

    CScopedKernelHandle m_file;
};

// One line through the process's logger.
inline void Log(const char* message) {
    CSimpleLogger::GetInstance()->Log(message);
}
