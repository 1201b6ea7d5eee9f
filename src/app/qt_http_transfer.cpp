#include "app/qt_http_transfer.h"

#include "text/quantity_text.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTimer>
#include <QUrl>

#include <algorithm>
#include <utility>

namespace tamberly {
namespace {

std::string networkErrorText(const QNetworkReply& reply) {
    switch (reply.error()) {
    case QNetworkReply::ConnectionRefusedError:
        return "the server refused the connection";
    case QNetworkReply::HostNotFoundError:
        return "the server's host name was not found";
    case QNetworkReply::RemoteHostClosedError:
        return "the server closed the connection before the answer was complete";
    case QNetworkReply::TimeoutError:
        return "the connection timed out";
    case QNetworkReply::UnknownContentError: // Qt's own text is "Decompression failed: " with no reason
        return "the server's answer could not be decoded";
    default:
        return reply.errorString().toStdString();
    }
}

// One request and its answer; redirects are left to the caller.
struct Hop {
    std::string failure; // set when the request did not complete
    QNetworkReply::NetworkError error = QNetworkReply::NoError;
    std::string errorText;
    bool hasStatus = false;
    int status = 0;
    std::string reason;
    QUrl location;
    QString contentType;
    std::string body;
};

// The server's explanation of a refusal: only a short text/plain body, never an error page.
std::string refusalReason(const Hop& hop) {
    const QString mediaType = hop.contentType.section(QLatin1Char(';'), 0, 0).trimmed();
    if (hop.status < 400 || hop.status > 499 || mediaType.compare(QLatin1String("text/plain"), Qt::CaseInsensitive) ||
        hop.body.size() > transfer_limits::kMaxReasonBytes)
        return {};
    return hop.body;
}

constexpr qint64 kReadBufferBytes = 1024 * 1024;

bool isRedirect(int status) {
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

struct Limits {
    std::chrono::milliseconds stall;
    std::chrono::milliseconds total;
    std::int64_t maxBodyBytes;
};

/// GETs url without following redirects; the total time-out fires after timeLeft.
Hop fetch(QNetworkAccessManager& manager, const QUrl& url, const Limits& limits, std::chrono::milliseconds timeLeft) {
    QNetworkRequest request(url);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
    QNetworkReply* reply = manager.get(request);
    // Without a bound, Qt's network thread buffers a fast endless answer (chunked ones above all) far ahead of
    // the size check below: gigabytes within seconds. A much smaller bound stalls highly compressed answers.
    reply->setReadBufferSize(kReadBufferBytes);

    Hop hop;
    const std::string tooLarge = "the answer is larger than " + sizeText(limits.maxBodyBytes);
    QEventLoop loop;
    QTimer stall;
    QTimer total;
    stall.setSingleShot(true);
    total.setSingleShot(true);

    // The first reason wins: abort() itself reports a cancelled request. A timer that fires after the last byte
    // came changes nothing.
    const auto fail = [&](const std::string& why) {
        if (reply->isFinished())
            return;
        if (hop.failure.empty())
            hop.failure = why;
        reply->abort();
    };
    const auto progress = [&] { stall.start(limits.stall); };

    QObject::connect(&stall, &QTimer::timeout, reply,
                     [&] { fail("the server sent nothing for " + durationText(limits.stall)); });
    QObject::connect(&total, &QTimer::timeout, reply,
                     [&] { fail("the server did not complete the answer within " + durationText(limits.total)); });
    QObject::connect(reply, &QNetworkReply::metaDataChanged, reply, [&] {
        progress();
        bool known = false;
        const qlonglong length = reply->header(QNetworkRequest::ContentLengthHeader).toLongLong(&known);
        if (known && length > limits.maxBodyBytes)
            fail(tooLarge);
        else if (known && length > 0)
            hop.body.reserve(static_cast<std::size_t>(length)); // one buffer for a list of megabytes
    });
    QObject::connect(reply, &QNetworkReply::downloadProgress, reply, progress);
    QObject::connect(reply, &QNetworkReply::uploadProgress, reply, progress);
    // Read as the data comes, so an oversized body is refused before it is all in memory. Read straight into the
    // body: each copy of a list of megabytes costs a fresh buffer.
    // Returns false, reading nothing, when the body would grow beyond the limit.
    const auto readAvailable = [&] {
        const qint64 available = reply->bytesAvailable();
        if (available <= 0)
            return true;
        const std::size_t used = hop.body.size();
        if (static_cast<std::int64_t>(used) + available > limits.maxBodyBytes)
            return false;
        hop.body.resize(used + static_cast<std::size_t>(available));
        const qint64 got = reply->read(hop.body.data() + used, available);
        hop.body.resize(used + static_cast<std::size_t>(std::max<qint64>(got, 0)));
        return true;
    };
    QObject::connect(reply, &QNetworkReply::readyRead, reply, [&] {
        progress();
        if (!readAvailable())
            fail(tooLarge);
    });
    QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);

    stall.start(limits.stall);
    total.start(timeLeft);
    if (!reply->isFinished())
        loop.exec();
    stall.stop();
    total.stop();
    // The loop also ends when the application quits while the request runs.
    if (!reply->isFinished())
        fail("the request was cancelled");
    if (hop.failure.empty() && !readAvailable())
        hop.failure = tooLarge;

    hop.error = reply->error();
    if (hop.error != QNetworkReply::NoError)
        hop.errorText = networkErrorText(*reply);
    hop.status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(&hop.hasStatus);
    hop.reason = reply->attribute(QNetworkRequest::HttpReasonPhraseAttribute).toString().toStdString();
    hop.location = reply->attribute(QNetworkRequest::RedirectionTargetAttribute).toUrl();
    hop.contentType = reply->header(QNetworkRequest::ContentTypeHeader).toString();
    reply->disconnect();
    reply->deleteLater();
    return hop;
}

} // namespace

QtHttpTransfer::QtHttpTransfer(std::chrono::milliseconds stallTimeout, std::chrono::milliseconds totalTimeout,
                               std::int64_t maxBodyBytes)
    : m_stallTimeout(stallTimeout), m_totalTimeout(totalTimeout),
      m_maxBodyBytes(maxBodyBytes) {
}

QtHttpTransfer::~QtHttpTransfer() = default;

QNetworkAccessManager& QtHttpTransfer::manager() {
    // Made for the first request, not at start-up: most starts never download anything.
    if (!m_manager) {
        m_manager = std::make_unique<QNetworkAccessManager>();
        m_manager->setProxy(QNetworkProxy(QNetworkProxy::NoProxy));
    }
    return *m_manager;
}

bool QtHttpTransfer::busy() const {
    return m_running;
}

TransferResult QtHttpTransfer::get(const std::string& url) {
    if (m_running)
        return {false, {}, "another request is still running"};
    QUrl target(QString::fromStdString(url));
    const QString scheme = target.scheme().toLower();
    if (!target.isValid() || (scheme != "http" && scheme != "https") || target.host().isEmpty())
        return {false, {}, "\"" + url + "\" is not an http or https address"};

    m_running = true;
    struct Release {
        bool& running;
        ~Release() { running = false; }
    } release{m_running};

    // Redirects are followed here rather than by Qt, which may send a redirected request twice; a submission
    // must reach the server once.
    QElapsedTimer clock;
    clock.start();
    for (int redirects = 0;; ++redirects) {
        const auto left = m_totalTimeout - std::chrono::milliseconds(clock.elapsed());
        Hop hop = fetch(manager(), target, {m_stallTimeout, m_totalTimeout, m_maxBodyBytes},
                        std::max(left, std::chrono::milliseconds(0)));
        if (!hop.failure.empty())
            return {false, {}, hop.failure};
        if (hop.hasStatus && isRedirect(hop.status) && hop.location.isValid() && !hop.location.isEmpty()) {
            if (redirects == transfer_limits::kMaxRedirects)
                return {false,
                        {},
                        "the server redirected more than " + std::to_string(transfer_limits::kMaxRedirects) + " times"};
            const QUrl next = target.resolved(hop.location);
            const QString nextScheme = next.scheme().toLower();
            if ((nextScheme != "http" && nextScheme != "https") || next.host().isEmpty())
                return {false, {}, "the server redirected to \"" + next.toString().toStdString() + "\""};
            if (target.scheme().toLower() == "https" && nextScheme == "http")
                return {false, {}, "the server redirected from https to plain http"};
            target = next;
            continue;
        }
        if (hop.hasStatus && (hop.status < 200 || hop.status > 299))
            return {false,
                    {},
                    "the server answered " + std::to_string(hop.status) + (hop.reason.empty() ? "" : " " + hop.reason),
                    refusalReason(hop)};
        if (hop.error != QNetworkReply::NoError)
            return {false, {}, hop.errorText};
        if (!hop.hasStatus)
            return {false, {}, "the server gave no HTTP answer"};
        return {true, std::move(hop.body), {}};
    }
}

} // namespace tamberly
