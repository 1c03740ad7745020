// The remaining-time request: one HTTP GET on the main loop, bounded by an inactivity timer.
#pragma once

#include <QObject>
#include <QPointer>
#include <QTimer>

#include <cstddef>
#include <string>

class QNetworkReply;

// One request in flight: the reply stream, its own inactivity timer and the bytes so far.
class KLimitStream : public QObject {
public:
    explicit KLimitStream(QObject* parent) : QObject(parent) {}
    QPointer<QNetworkReply> reply;
    QTimer timer;
    std::string body;
};

enum class KLimitStreamEvent { OpenCompleted, HasBytesAvailable, ErrorOccurred, EndEncountered };

constexpr const char* kLimitURLPrefix = "http";
constexpr size_t kLimitShortestURL = 12;
constexpr size_t kLimitReadSize = 16384;
constexpr double kLimitTimeoutSeconds = 5.0;

// Starts the request; nothing is requested or reported when it cannot be started.
void DownloadURL(const char* url);
void ReadStreamClientCallBack(KLimitStream* stream, KLimitStreamEvent event);
void NetworkTimeoutTimerProc(QTimer* timer, KLimitStream* stream);
void TerminateDownload(KLimitStream* stream);

// Tests shorten the inactivity timeout so that a silent server costs them little time;
// 0 restores the 5 seconds.
void SetLimitTimeoutForTesting(int milliseconds);
