#include "app/card/CSerialPort.h"

#include "app/card/CardReply.h"
#include "platform/cf/KStatus.h"
#include "platform/shell/KLog.h"
#include "platform/shell/KTicks.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <new>
#include <string_view>

namespace {

constexpr int kSendWaitSeconds = 8;
constexpr int kSendAttempts = 3;

// Waits for the descriptor; >0 ready, 0 time-out, <0 error. poll rather than select: it has
// no limit on the descriptor's number.
int WaitFor(int fd, short events, int seconds)
{
    pollfd p{fd, events, 0};
    int r;
    do {
        r = poll(&p, 1, seconds * 1000);
    } while (r < 0 && errno == EINTR);
    return r;
}

} // namespace

CSerialPort::CSerialPort(const char* devicePath, int32_t* outErr)
{
    mFileDesc = OpenPort(devicePath);
    if (outErr) *outErr = mFileDesc >= 0 ? kStatusOK : kStatusBadParam;
}

CSerialPort::~CSerialPort()
{
    if (mFileDesc >= 0) {
        ClosePort();
        mFileDesc = -1;
    }
}

int CSerialPort::OpenPort(const char* devicePath)
{
    if (!devicePath || !*devicePath) return -1;

    // Non-blocking so the open does not wait for the carrier.
    const int fd = open(devicePath, O_RDWR | O_NONBLOCK);
    if (fd < 0) return -1;
    auto fail = [fd] {
        close(fd);
        return -1;
    };

    if (ioctl(fd, TIOCEXCL) == -1) return fail();
    if (fcntl(fd, F_SETFL, 0) == -1) return fail();
    if (tcgetattr(fd, &mSavedTermios) == -1) return fail();

    struct termios t = mSavedTermios;
    cfmakeraw(&t);
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 10;
    cfsetspeed(&t, B115200);
    t.c_cflag &= ~(CSIZE | CSTOPB | PARENB | CLOCAL);
    t.c_cflag |= CS8 | CREAD | HUPCL | CRTSCTS;
    if (tcsetattr(fd, TCSANOW, &t) == -1) return fail();

    // Pulse DTR, then set the modem lines. A pseudo-terminal has no modem lines and refuses
    // these (ENOTTY); the port is used all the same.
    int dtr = TIOCM_DTR;
    (void)ioctl(fd, TIOCMBIS, &dtr);
    (void)ioctl(fd, TIOCMBIC, &dtr);
    int lines = TIOCM_DTR | TIOCM_RTS | TIOCM_CTS | TIOCM_DSR;
    (void)ioctl(fd, TIOCMSET, &lines);
    (void)ioctl(fd, TIOCMGET, &lines);

    return fd;
}

int CSerialPort::ClosePort()
{
    tcdrain(mFileDesc);
    tcsetattr(mFileDesc, TCSANOW, &mSavedTermios);
    // Linux keeps exclusive mode on a terminal whose other side stays open (a pseudo-terminal)
    // after the last close; end it here so the next user can open the port.
    (void)ioctl(mFileDesc, TIOCNXCL);
    return close(mFileDesc);
}

bool CSerialPort::SendPort(const char* command)
{
    if (mFileDesc < 0 || !command) return false;
    const size_t length = std::strlen(command);
    FlushInput();
    qCDebug(lcCard) << "send" << QByteArray(command, qsizetype(length));
    for (int attempt = 0; attempt < kSendAttempts; ++attempt) {
        if (WaitFor(mFileDesc, POLLOUT, kSendWaitSeconds) <= 0) return false;
        const ssize_t written = write(mFileDesc, command, length);
        if (written >= 0 && size_t(written) == length) return true;
    }
    return false;
}

bool CSerialPort::RecvPort(char* dest, size_t destSize, uint32_t timeLimit)
{
    if (mFileDesc < 0) return false;
    const uint32_t start = TickCount();
    const int waitSeconds = static_cast<int>(timeLimit / 60);
    char buffer[CardReply::kMaxReply + 1];
    size_t used = 0;

    for (;;) {
        const int ready = WaitFor(mFileDesc, POLLIN, waitSeconds);
        if (ready <= 0) return false;

        const ssize_t got = read(mFileDesc, buffer + used, CardReply::kMaxReply - used);
        if (got == 0) return false;
        if (got > 0) {
            used += size_t(got);
            // Classify the whole text so far: the final line may have arrived over two reads.
            const std::string_view text(buffer, used);
            switch (CardReply::Classify(text)) {
            case CardReply::Verdict::kOK:
                qCDebug(lcCard) << "reply OK" << QByteArray(buffer, qsizetype(used));
                CopyReply(CardReply::Body(text), dest, destSize);
                return true;
            case CardReply::Verdict::kError:
            case CardReply::Verdict::kFull:
                qCDebug(lcCard) << "reply failed" << QByteArray(buffer, qsizetype(used));
                return false;
            case CardReply::Verdict::kMore:
                break;
            }
        }
        // Ticks compare unsigned: the elapsed time survives the counter's wrap-around.
        if (TickCount() - start >= timeLimit) return false;
    }
}

void CSerialPort::CopyReply(std::string_view body, char* dest, size_t destSize)
{
    if (!dest || destSize == 0) return;
    const size_t n = body.size() < destSize - 1 ? body.size() : destSize - 1;
    std::memcpy(dest, body.data(), n);
    dest[n] = '\0';
}

void CSerialPort::FlushInput()
{
    // Whatever is still unread belongs to an earlier exchange (a late or overlong reply).
    if (mFileDesc >= 0) tcflush(mFileDesc, TCIFLUSH);
}

bool CSerialPort::PortUsed(const char* devicePath)
{
    int32_t status = kStatusBadParam;
    CSerialPort* port = new (std::nothrow) CSerialPort(devicePath, &status);
    delete port;
    return status != kStatusOK;
}
