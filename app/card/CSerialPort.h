// The data card's serial line: exclusive, raw 8N1 at 115200 bit/s with RTS/CTS, one AT
// command and its reply at a time. Every call blocks.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <termios.h>

class CSerialPort {
public:
    // Opens the port; *outErr becomes 0, or -50 when it could not be opened (the object then
    // holds no port and every exchange fails).
    CSerialPort(const char* devicePath, int32_t* outErr);
    ~CSerialPort();
    CSerialPort(const CSerialPort&) = delete;
    CSerialPort& operator=(const CSerialPort&) = delete;

    // Drops unread input, then writes the whole command (the caller includes the closing CR);
    // up to three tries, each after waiting at most 8 s for the line to take it.
    bool SendPort(const char* command);

    // Collects the reply until its final result line: "OK" (true: `dest` receives the text
    // without that line, cut to destSize - 1 and NUL-terminated) or "ERROR"; or until 1023
    // characters without one, a silent wait of timeLimit / 60 whole seconds, end of input, or
    // the deadline (false; `dest` is left as it was).
    bool RecvPort(char* dest, size_t destSize, uint32_t timeLimit);

    // True when the port cannot be opened and set up right now (busy, missing, refused).
    static bool PortUsed(const char* devicePath);

    bool IsOpen() const { return mFileDesc >= 0; }
    // The open port's descriptor (-1 when none), for waiting on it from the event loop.
    int FileDescriptor() const { return mFileDesc; }
    // Drops input the card sent that no exchange has read.
    void FlushInput();
    // `body` into `dest`, cut to destSize - 1 and NUL-terminated.
    static void CopyReply(std::string_view body, char* dest, size_t destSize);

private:
    int OpenPort(const char* devicePath);
    int ClosePort();

    int mFileDesc = -1;
    struct termios mSavedTermios {};
};
