// The data card's serial line: exclusive, raw 8N1 at 115200 bit/s with RTS/CTS, one AT
// command and its reply at a time. Every call blocks.
#pragma once

#include <cstddef>
#include <cstdint>
#include <termios.h>

class CSerialPort {
public:
    // Opens the port; *outErr becomes 0, or -50 when it could not be opened (the object then
    // holds no port and every exchange fails).
    CSerialPort(const char* devicePath, int32_t* outErr);
    ~CSerialPort();
    CSerialPort(const CSerialPort&) = delete;
    CSerialPort& operator=(const CSerialPort&) = delete;

    // Writes the whole command (the caller includes the closing CR); up to three tries, each
    // after waiting at most 8 s for the line to take it.
    bool SendPort(const char* command);

    // Collects the reply until it holds "OK" (true: `dest` receives the text without its
    // closing six characters, cut to destSize - 1 and NUL-terminated) or "ERROR", a silent
    // wait of timeLimit / 60 whole seconds, end of input, or the deadline (false; `dest` is
    // left as it was).
    bool RecvPort(char* dest, size_t destSize, uint32_t timeLimit);

    // True when the port cannot be opened and set up right now (busy, missing, refused).
    static bool PortUsed(const char* devicePath);

    bool IsOpen() const { return mFileDesc >= 0; }

private:
    int OpenPort(const char* devicePath);
    int ClosePort();

    int mFileDesc = -1;
    struct termios mSavedTermios {};
};
