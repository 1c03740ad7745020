// The remaining-time check: the request on Qt Network and the rules that turn the service's
// reply into the text shown.
#include "app/core/CLimitTime.h"

#include "app/core/CApplicationMain.h"
#include "app/core/CMainWindowIface.h"

#include <QCoreApplication>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QUrl>

#include <cctype>
#include <climits>
#include <cstdio>
#include <string_view>

QPointer<QTimer> gNetworkTimeoutTimerRef;

namespace {

int gTimeoutForTesting = 0;

int TimeoutMilliseconds()
{
    return gTimeoutForTesting > 0 ? gTimeoutForTesting : static_cast<int>(kLimitTimeoutSeconds * 1000);
}

QNetworkAccessManager* Manager()
{
    static QPointer<QNetworkAccessManager> manager;
    if (!manager)
        manager = new QNetworkAccessManager(QCoreApplication::instance());
    return manager;
}

constexpr short kTraitsStored = 132;
constexpr short kTraitsFresh = 133;
constexpr std::string_view kLimitLayout = "--/--/--\r\n";
constexpr size_t kLimitDropped = 8; // the length of "--/--/--"

bool IsBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

std::string_view Trim(std::string_view s)
{
    while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
    while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
    return s;
}

// An optional sign and the leading digits; 0 when there are none. Saturates instead of
// overflowing on a reply with more digits than an int holds.
int LeadingInteger(std::string_view s)
{
    size_t i = 0;
    bool negative = false;
    if (i < s.size() && (s[i] == '+' || s[i] == '-'))
        negative = s[i++] == '-';
    long long value = 0;
    for (; i < s.size() && s[i] >= '0' && s[i] <= '9'; ++i) {
        value = value * 10 + (s[i] - '0');
        if (value > static_cast<long long>(INT_MAX) + 1) value = static_cast<long long>(INT_MAX) + 1;
    }
    if (negative) value = -value;
    if (value > INT_MAX) value = INT_MAX;
    return static_cast<int>(value);
}

} // namespace

void SetLimitTimeoutForTesting(int milliseconds) { gTimeoutForTesting = milliseconds; }

void DownloadURL(const char* url)
{
    static QUrl urlRef;
    std::string text = url ? url : "";
    if (text.compare(0, 4, kLimitURLPrefix) != 0)
        text = "http://" + text;
    if (text.size() < kLimitShortestURL)
        return;
    urlRef = QUrl();

    // Escapes are decoded first, so a URL that already carries some is not escaped twice.
    const QByteArray decoded = QByteArray::fromPercentEncoding(QByteArray::fromStdString(text));
    const QByteArray escaped = QString::fromLatin1(decoded).toUtf8().toPercentEncoding(":/?#[]@!$&'()*+,;=~");
    QUrl made = QUrl::fromEncoded(escaped, QUrl::StrictMode);
    if (!made.isValid() || made.scheme().isEmpty() || made.host().isEmpty())
        return;
    urlRef = made;

    QNetworkRequest request(urlRef);
    request.setAttribute(QNetworkRequest::Http2AllowedAttribute, false);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::NoLessSafeRedirectPolicy);
    QNetworkReply* reply = Manager()->get(request);
    if (!reply)
        return;

    // Owned by the manager too, so that a stream that never ends goes with it at exit.
    auto* stream = new KLimitStream(Manager());
    stream->reply = reply;
    QObject::connect(reply, &QNetworkReply::readyRead, stream,
                     [stream] { ReadStreamClientCallBack(stream, KLimitStreamEvent::HasBytesAvailable); });
    QObject::connect(reply, &QNetworkReply::finished, stream, [stream] {
        const bool failed = stream->reply && stream->reply->error() != QNetworkReply::NoError;
        ReadStreamClientCallBack(stream, failed ? KLimitStreamEvent::ErrorOccurred : KLimitStreamEvent::EndEncountered);
    });

    // The previous request loses its timeout; its stream runs on until its own end.
    if (gNetworkTimeoutTimerRef)
        gNetworkTimeoutTimerRef->stop();
    stream->timer.setSingleShot(true);
    QTimer* timer = &stream->timer;
    QObject::connect(timer, &QTimer::timeout, stream, [timer, stream] { NetworkTimeoutTimerProc(timer, stream); });
    timer->start(TimeoutMilliseconds());
    gNetworkTimeoutTimerRef = timer;
}

void ReadStreamClientCallBack(KLimitStream* stream, KLimitStreamEvent event)
{
    CApplicationMain* app = CApplicationMain::GetAppMain();
    switch (event) {
    case KLimitStreamEvent::HasBytesAvailable: {
        if (!stream->reply)
            return;
        char buffer[kLimitReadSize + 1];
        for (;;) {
            const qint64 got = stream->reply->read(buffer, kLimitReadSize);
            if (got <= 0)
                break;
            // The reply is collected and reported once at its end: where the network splits it
            // must not change the value shown. Anything past the buffer's size is dropped.
            const size_t room = kLimitReadSize - stream->body.size();
            stream->body.append(buffer, static_cast<size_t>(got) < room ? static_cast<size_t>(got) : room);
        }
        stream->timer.start(TimeoutMilliseconds());
        return;
    }
    case KLimitStreamEvent::ErrorOccurred:
        TerminateDownload(stream);
        if (app)
            app->SetLimitText(nullptr, 0, false, true);
        return;
    case KLimitStreamEvent::EndEncountered: {
        const std::string body = std::move(stream->body);
        TerminateDownload(stream);
        if (!body.empty() && app)
            app->SetLimitText(body.c_str(), static_cast<int32_t>(body.size()), true, true);
        return;
    }
    case KLimitStreamEvent::OpenCompleted:
        return;
    }
}

void NetworkTimeoutTimerProc(QTimer* /*timer*/, KLimitStream* stream)
{
    TerminateDownload(stream);
    if (CApplicationMain* app = CApplicationMain::GetAppMain())
        app->SetLimitText(nullptr, 0, false, true);
}

void TerminateDownload(KLimitStream* stream)
{
    stream->timer.stop();
    if (QNetworkReply* reply = stream->reply) {
        QObject::disconnect(reply, nullptr, stream, nullptr);
        if (reply->isRunning())
            reply->abort();
        reply->deleteLater();
    }
    stream->reply = nullptr;
    stream->deleteLater();
}

void CApplicationMain::GetLimitTime()
{
    std::string url(mAppPrefs.GetLimitTimeURL().View());
    url += mPHSNo.View();
    DownloadURL(url.c_str());
}

void CApplicationMain::SetLimitText(const char* text, int32_t length, bool succeeded, bool fromNetwork)
{
    if (GetAppStatus() == kAppConnected && mMainWindow)
        mMainWindow->SetStatus(kDialupLimitDone);
    if (!succeeded) {
        if (++mLimitRetryCount < kLimitRetryLimit) {
            ObeyCommand(kCmdLimitTime, nullptr);
            return;
        }
        mLimitRetryCount = 0;
        if (mMainWindow)
            mMainWindow->SetLimitText(" ", 1, kTraitsStored);
        return;
    }
    mLimitRetryCount = 0;
    const std::string_view reply(text ? text : "", text && length > 0 ? static_cast<size_t>(length) : 0);
    if (!fromNetwork) {
        const std::string shown(reply);
        if (mMainWindow)
            mMainWindow->SetLimitText(shown.c_str(), static_cast<int32_t>(shown.size()), kTraitsStored);
        return;
    }

    std::string shown;
    if (reply.size() > kLimitLayout.size()) {
        const int minutes = LeadingInteger(Trim(reply.substr(kLimitDropped)));
        if (minutes == 0) {
            shown = "0";
        } else {
            char formatted[32];
            std::snprintf(formatted, sizeof formatted, "%02d:%02d", minutes / 60, minutes % 60);
            shown = formatted;
        }
    } else {
        shown = std::string(Trim(reply));
    }
    if (mMainWindow)
        mMainWindow->SetLimitText(shown.c_str(), static_cast<int32_t>(shown.size()), kTraitsFresh);
    mAppPrefs.SetLimitTime(Str255::From(shown));
}
