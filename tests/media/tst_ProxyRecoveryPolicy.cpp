#include "media/ProxyRecoveryPolicy.h"
#include "media/TransportRecoveryBudget.h"

#include <QTest>

using Action = ProxyRecoveryPolicy::Action;

namespace {

const QString CurrentSession = QStringLiteral("s");
constexpr quint64 CurrentGeneration = 5;

ProxyFailureRecord upstream(int status, const QString &code = {})
{
    ProxyFailureRecord record;
    record.origin = ProxyFailureOrigin::UpstreamHttp;
    record.reason = ProxyFailureReason::UpstreamSegment;
    record.resourceType = ProxyResourceType::Segment;
    record.httpStatus = status;
    record.upstreamCode = code;
    record.sessionId = CurrentSession;
    record.generation = CurrentGeneration;
    return record;
}

ProxyFailureRecord local(int reason, int status)
{
    ProxyFailureRecord record = upstream(status);
    record.origin = ProxyFailureOrigin::LocalProxy;
    record.reason = static_cast<ProxyFailureReason>(reason);
    return record;
}

ProxyFailureRecord withOrigin(ProxyFailureRecord record, int origin)
{
    record.origin = static_cast<ProxyFailureOrigin>(origin);
    return record;
}

ProxyFailureRecord ofSession(ProxyFailureRecord record, const QString &sessionId, quint64 generation)
{
    record.sessionId = sessionId;
    record.generation = generation;
    return record;
}

} // namespace

class tst_ProxyRecoveryPolicy : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void decide_data()
    {
        QTest::addColumn<ProxyFailureRecord>("record");
        QTest::addColumn<Action>("first");        // no rebuild made yet
        QTest::addColumn<Action>("afterRebuild"); // once a rebuild was made

        const auto row = [](const char *name, const ProxyFailureRecord &record, Action first, Action after) {
            QTest::newRow(name) << record << first << after;
        };
        const auto both = [&row](const char *name, const ProxyFailureRecord &record, Action action) {
            row(name, record, action, action);
        };

        // Reports of another stream.
        both("older generation, 401", ofSession(upstream(401), "s", 4), Action::Ignore);
        both("newer generation, local", ofSession(local(2, 410), "s", 6), Action::Ignore);
        both("other session, 401", ofSession(upstream(401), "x", 5), Action::Ignore);
        both("session differs in case", ofSession(local(2, 410), "S", 5), Action::Ignore);
        both("no session id, 404", ofSession(upstream(404), "", 5), Action::SourceUnavailable);
        both("no session id, older generation", ofSession(upstream(404), "", 4), Action::Ignore);

        // Upstream answers.
        both("401 with COURSE_ACCESS_DENIED", upstream(401, "COURSE_ACCESS_DENIED"),
             Action::RefreshAuthentication);
        both("403 with course_access_denied padded", upstream(403, " course_access_denied "),
             Action::AccessDenied);
        both("403 without a code", upstream(403), Action::RefreshAuthentication);
        both("403 with blanks for a code", upstream(403, "  "), Action::RefreshAuthentication);
        both("403 with OTHER", upstream(403, "OTHER"), Action::TransportRecovery);
        both("403 with USER_BLOCKED", upstream(403, "USER_BLOCKED"), Action::AccountBlocked);
        both("500 with USER_BLOCKED", upstream(500, "user_blocked"), Action::AccountBlocked);
        both("404 with AUTH_EXPIRED", upstream(404, "AUTH_EXPIRED"), Action::RefreshAuthentication);
        both("500 with AUTH_MISSING", upstream(500, "AUTH_MISSING"), Action::RefreshAuthentication);
        both("400 with AUTH_INVALID", upstream(400, "AUTH_INVALID"), Action::RefreshAuthentication);
        both("404 with DECRYPTION_FAILED", upstream(404, "DECRYPTION_FAILED"), Action::SourceUnavailable);
        both("404 without a code", upstream(404), Action::SourceUnavailable);
        both("200 with CONTENT_NOT_FOUND", upstream(200, "CONTENT_NOT_FOUND"), Action::SourceUnavailable);
        both("502 with MALFORMED_MANIFEST", upstream(502, "MALFORMED_MANIFEST"), Action::SetupFailed);
        both("200 with INVALID_CONTENT_KEY", upstream(200, "INVALID_CONTENT_KEY"), Action::SetupFailed);
        both("416 with INVALID_RANGE", upstream(416, "INVALID_RANGE"), Action::SetupFailed);
        both("502 without a code", upstream(502), Action::TransportRecovery);
        both("410 without a code", upstream(410), Action::SetupFailed);
        both("400 without a code", upstream(400), Action::SetupFailed);
        both("499 without a code", upstream(499), Action::SetupFailed);
        both("408", upstream(408), Action::TransportRecovery);
        both("429", upstream(429), Action::TransportRecovery);
        both("399", upstream(399), Action::TransportRecovery);
        both("500", upstream(500), Action::TransportRecovery);
        both("no status", upstream(0), Action::TransportRecovery);
        both("410 with an unknown code", upstream(410, "SOMETHING"), Action::SetupFailed);

        // Transfers that failed before any answer.
        both("network transport, 403", withOrigin(upstream(403), 2), Action::TransportRecovery);
        both("network transport, no status", withOrigin(upstream(0, "AUTH_EXPIRED"), 2),
             Action::TransportRecovery);

        // The proxy's own refusals.
        row("unknown session, 404", local(0, 404), Action::Rebuild, Action::ProxyError);
        row("unknown token, 404", local(1, 404), Action::Rebuild, Action::ProxyError);
        row("retired session, 410", local(2, 410), Action::Rebuild, Action::ProxyError);
        row("unknown session, 500", local(0, 500), Action::Rebuild, Action::ProxyError);
        both("request limit, 429", local(3, 429), Action::TransportRecovery);
        row("request limit, 404", local(3, 404), Action::Rebuild, Action::TransportRecovery);
        row("request limit, 403", local(3, 403), Action::Rebuild, Action::TransportRecovery);
        both("local refusal, 404", local(4, 404), Action::ProxyError);
        both("local refusal, 400", local(4, 400), Action::ProxyError);
        row("reason 5, 404", local(5, 404), Action::Rebuild, Action::ProxyError);
        row("upstream segment reason, 403", local(8, 403), Action::Rebuild, Action::ProxyError);
        both("upstream segment reason, 500", local(8, 500), Action::ProxyError);
        // An origin this build does not know is judged as the proxy's own.
        row("unknown origin, 404", withOrigin(local(2, 404), 7), Action::Rebuild, Action::ProxyError);
    }

    void decide()
    {
        QFETCH(ProxyFailureRecord, record);
        QFETCH(Action, first);
        QFETCH(Action, afterRebuild);

        QCOMPARE(ProxyRecoveryPolicy::decide(record, CurrentSession, CurrentGeneration, false), first);
        QCOMPARE(ProxyRecoveryPolicy::decide(record, CurrentSession, CurrentGeneration, true), afterRebuild);
    }

    // A cached copy that does not decrypt is dropped by the proxy; the stream is rebuilt and
    // fetches it anew. The same resource failing again in the same stream is terminal.
    void cacheFault_data()
    {
        QTest::addColumn<ProxyFailureRecord>("record");
        QTest::addColumn<QStringList>("faultedCopies");
        QTest::addColumn<Action>("action");

        const auto fault = [](const QString &resourceFp, quint64 generation = CurrentGeneration) {
            ProxyFailureRecord record = ofSession(local(9, 0), CurrentSession, generation);
            record.resourceFp = resourceFp;
            return record;
        };
        QTest::newRow("first fault") << fault("a") << QStringList() << Action::Rebuild;
        QTest::newRow("another resource faulted before") << fault("a") << QStringList{"b"} << Action::Rebuild;
        QTest::newRow("the same resource again")
            << fault("a") << QStringList{"b", "a"} << Action::SetupFailed;
        QTest::newRow("an older stream's fault") << fault("a", 4) << QStringList() << Action::Ignore;
        QTest::newRow("an origin this build does not know")
            << withOrigin(fault("a"), 7) << QStringList{"a"} << Action::SetupFailed;
        // Reason 9 from upstream is no cache fault: the upstream rules judge it.
        QTest::newRow("upstream record with reason 9")
            << withOrigin(fault("a"), 1) << QStringList{"a"} << Action::TransportRecovery;
    }

    void cacheFault()
    {
        QFETCH(ProxyFailureRecord, record);
        QFETCH(QStringList, faultedCopies);
        QFETCH(Action, action);
        const QSet<QString> faulted(faultedCopies.cbegin(), faultedCopies.cend());

        // The rebuild flag plays no part: the fault is the file's, not the stream's.
        QCOMPARE(ProxyRecoveryPolicy::decide(record, CurrentSession, CurrentGeneration, false, faulted),
                 action);
        QCOMPARE(ProxyRecoveryPolicy::decide(record, CurrentSession, CurrentGeneration, true, faulted),
                 action);
        QCOMPARE(ProxyRecoveryPolicy::isCacheFault(record),
                 record.origin != ProxyFailureOrigin::UpstreamHttp);
    }

    void actionValues()
    {
        // Playback control logs and compares these numbers.
        QCOMPARE(int(Action::Ignore), 0);
        QCOMPARE(int(Action::SessionExpired), 3);
        QCOMPARE(int(Action::TransportRecovery), 8);
        QCOMPARE(int(Action::ProxyError), 9);
    }

    void attemptDelays_data()
    {
        QTest::addColumn<int>("attempt");
        QTest::addColumn<int>("delayMs");

        QTest::newRow("0") << 0 << 0;
        QTest::newRow("1") << 1 << 250;
        QTest::newRow("2") << 2 << 500;
        QTest::newRow("3") << 3 << 0;
        QTest::newRow("-1") << -1 << 0;
    }

    void attemptDelays()
    {
        QFETCH(int, attempt);
        QFETCH(int, delayMs);
        QCOMPARE(TransportRecoveryBudget::delayMsForAttempt(attempt), delayMs);
    }

    void budget_data()
    {
        // Steps: 't' takes an attempt (answer: its number), 'n' observes a transfer from the
        // network and 'c' one from the cache (answer: 1 when it refilled the budget), 'r' resets.
        QTest::addColumn<QString>("steps");
        QTest::addColumn<QList<int>>("answers");

        QTest::newRow("attempts after a reset") << "rtttt" << QList<int>{1, 2, 0, 0};
        QTest::newRow("a fresh budget is full") << "ttt" << QList<int>{1, 2, 0};
        QTest::newRow("three transfers refill") << "ttnnnt" << QList<int>{1, 2, 0, 0, 1, 1};
        QTest::newRow("refill after one attempt") << "tnnntt" << QList<int>{1, 0, 0, 1, 1, 2};
        QTest::newRow("cache neither counts nor breaks") << "ttncnnt" << QList<int>{1, 2, 0, 0, 0, 1, 1};
        QTest::newRow("an attempt restarts the count")
            << "ttnntnnnt" << QList<int>{1, 2, 0, 0, 0, 0, 0, 1, 1};
        QTest::newRow("full budget stays full") << "nnnttt" << QList<int>{0, 0, 0, 1, 2, 0};
        QTest::newRow("streak starts over after a refill")
            << "ttnnnttnnn" << QList<int>{1, 2, 0, 0, 1, 1, 2, 0, 0, 1};
        QTest::newRow("a reset clears the streak") << "ttnnrttnn" << QList<int>{1, 2, 0, 0, 1, 2, 0, 0};
    }

    void budget()
    {
        QFETCH(QString, steps);
        QFETCH(QList<int>, answers);
        TransportRecoveryBudget budget;

        QList<int> seen;
        for (const QChar step : steps) {
            switch (step.toLatin1()) {
            case 'r':
                budget.reset();
                break;
            case 't':
                seen.append(budget.takeAttempt());
                break;
            default:
                seen.append(budget.observeHealthyDemand(step == u'c') ? 1 : 0);
                break;
            }
        }
        QCOMPARE(seen, answers);
    }
};

QTEST_APPLESS_MAIN(tst_ProxyRecoveryPolicy)
#include "tst_ProxyRecoveryPolicy.moc"
