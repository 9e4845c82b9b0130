#include "learning/CourseSectionNormalizer.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>

using quorin::CourseSectionNormalizer;

namespace {

QVariantMap mapFrom(const char *json)
{
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(json, &error);
    if (error.error != QJsonParseError::NoError)
        qFatal("bad test JSON: %s", json);
    return document.object().toVariantMap();
}

// A section holding one content item, as the server sends it.
QVariantMap sectionWithItem(const char *itemJson)
{
    return {{QStringLiteral("id"), QStringLiteral("s-1")},
            {QStringLiteral("content"), QVariantList{mapFrom(itemJson)}}};
}

QVariantMap onlyItemOf(const QVariantMap &section)
{
    return section.value(QStringLiteral("content")).toList().value(0).toMap();
}

} // namespace

class tst_CourseSectionNormalizer : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // What each content item carries after normalising: the three flags, and every key it came with.
    void contentItem_data()
    {
        QTest::addColumn<QByteArray>("item");
        QTest::addColumn<QVariantMap>("expected");

        const auto expect = [](const char *json) { return mapFrom(json); };
        QTest::newRow("capitalised progress empty, lower-case one decides")
            << QByteArray(R"({"ContentProgress": [], "contentProgress": [{"isCompleted": true}]})")
            << expect(R"({"ContentProgress": [], "contentProgress": [{"isCompleted": true}],
                          "isCompleted": true, "requireHeadphones": false, "isShareable": false})");
        QTest::newRow("capitalised progress wins over lower-case")
            << QByteArray(
                   R"({"ContentProgress": [{"isCompleted": false}], "contentProgress": [{"isCompleted": true}]})")
            << expect(
                   R"({"ContentProgress": [{"isCompleted": false}], "contentProgress": [{"isCompleted": true}],
                          "isCompleted": false, "requireHeadphones": false, "isShareable": false})");
        QTest::newRow("first entry without the key keeps the item's own")
            << QByteArray(R"({"isCompleted": true, "ContentProgress": [{}]})")
            << expect(R"({"isCompleted": true, "ContentProgress": [{}], "requireHeadphones": false,
                          "isShareable": false})");
        QTest::newRow("text in the first entry is copied as text")
            << QByteArray(R"({"ContentProgress": [{"isCompleted": "yes"}, {"isCompleted": true}]})")
            << expect(R"({"ContentProgress": [{"isCompleted": "yes"}, {"isCompleted": true}],
                          "isCompleted": "yes", "requireHeadphones": false, "isShareable": false})");
        QTest::newRow("null in the first entry is copied as null")
            << QByteArray(R"({"isCompleted": true, "contentProgress": [{"isCompleted": null}]})")
            << expect(R"({"isCompleted": null, "contentProgress": [{"isCompleted": null}],
                          "requireHeadphones": false, "isShareable": false})");
        QTest::newRow("progress that is not a list is ignored")
            << QByteArray(R"({"ContentProgress": {"isCompleted": true}, "contentProgress": "done"})")
            << expect(R"({"ContentProgress": {"isCompleted": true}, "contentProgress": "done",
                          "requireHeadphones": false, "isShareable": false})");
        QTest::newRow("missing flags are false")
            << QByteArray(R"({"id": "v-1", "title": "Intro", "type": "VIDEO"})")
            << expect(R"({"id": "v-1", "title": "Intro", "type": "VIDEO", "requireHeadphones": false,
                          "isShareable": false})");
        QTest::newRow("only a JSON true switches a flag on")
            << QByteArray(R"({"isShareable": "true", "requireHeadphones": 1})")
            << expect(R"({"isShareable": false, "requireHeadphones": false})");
        QTest::newRow("null flags are false")
            << QByteArray(R"({"isShareable": null, "requireHeadphones": null})")
            << expect(R"({"isShareable": false, "requireHeadphones": false})");
        QTest::newRow("true flags stay true")
            << QByteArray(R"({"isShareable": true, "requireHeadphones": true})")
            << expect(R"({"isShareable": true, "requireHeadphones": true})");
        QTest::newRow("other keys and null pass unchanged")
            << QByteArray(R"({"url": null, "order": 3, "playback": {"hlsUrl": "h"}, "tags": ["a", 1]})")
            << expect(R"({"url": null, "order": 3, "playback": {"hlsUrl": "h"}, "tags": ["a", 1],
                          "requireHeadphones": false, "isShareable": false})");
    }

    void contentItem()
    {
        QFETCH(QByteArray, item);
        QFETCH(QVariantMap, expected);
        const QVariantMap normalized = onlyItemOf(CourseSectionNormalizer::normalize(sectionWithItem(item)));
        QCOMPARE(normalized, expected);
        // A JSON null must stay a null, not become an empty text or a missing key.
        for (auto it = expected.cbegin(); it != expected.cend(); ++it)
            QCOMPARE(normalized.value(it.key()).typeId(), it.value().typeId());
    }

    // The section around the items: "content" and "children" always lists, recursion over
    // "children" alone, everything else as the server sent it.
    void section_data()
    {
        QTest::addColumn<QByteArray>("section");
        QTest::addColumn<QVariantMap>("expected");

        QTest::newRow("neither content nor children")
            << QByteArray(R"({"id": "s-1", "title": "Empty", "description": null})")
            << mapFrom(
                   R"({"id": "s-1", "title": "Empty", "description": null, "content": [], "children": []})");
        QTest::newRow("content and children of the wrong type")
            << QByteArray(R"({"content": {"id": "x"}, "children": "none"})")
            << mapFrom(R"({"content": [], "children": []})");
        QTest::newRow("non-object items and children")
            << QByteArray(R"({"content": [7, "text"], "children": [5, null]})")
            << mapFrom(R"({"content": [{"requireHeadphones": false, "isShareable": false},
                                       {"requireHeadphones": false, "isShareable": false}],
                           "children": [{"content": [], "children": []}, {"content": [], "children": []}]})");
        QTest::newRow("quizzes and nested sections unchanged")
            << QByteArray(R"({"quizzes": [{"id": "qz-1", "isShareable": "true"}],
                              "contents": [{"id": "c-1"}],
                              "sections": [{"id": "s-9", "content": [{"id": "v-9"}]}]})")
            << mapFrom(R"({"quizzes": [{"id": "qz-1", "isShareable": "true"}],
                           "contents": [{"id": "c-1"}],
                           "sections": [{"id": "s-9", "content": [{"id": "v-9"}]}],
                           "content": [], "children": []})");
        QTest::newRow("children three deep, order kept")
            << QByteArray(R"({"id": "l1", "children": [
                                {"id": "l2a", "children": [
                                    {"id": "l3", "children": [
                                        {"id": "l4", "content": [{"id": "v", "isShareable": true}]}]}]},
                                {"id": "l2b", "content": [{"id": "p", "ContentProgress": [{"isCompleted": true}]}]}]})")
            << mapFrom(R"({"id": "l1", "content": [], "children": [
                             {"id": "l2a", "content": [], "children": [
                                 {"id": "l3", "content": [], "children": [
                                     {"id": "l4", "children": [], "content": [
                                         {"id": "v", "isShareable": true, "requireHeadphones": false}]}]}]},
                             {"id": "l2b", "children": [], "content": [
                                 {"id": "p", "ContentProgress": [{"isCompleted": true}], "isCompleted": true,
                                  "isShareable": false, "requireHeadphones": false}]}]})");
        QTest::newRow("duplicate items kept in the server's order")
            << QByteArray(
                   R"({"content": [{"id": "b", "order": 2}, {"id": "a", "order": 1}, {"id": "b", "order": 2}]})")
            << mapFrom(R"({"children": [], "content": [
                             {"id": "b", "order": 2, "isShareable": false, "requireHeadphones": false},
                             {"id": "a", "order": 1, "isShareable": false, "requireHeadphones": false},
                             {"id": "b", "order": 2, "isShareable": false, "requireHeadphones": false}]})");
    }

    void section()
    {
        QFETCH(QByteArray, section);
        QFETCH(QVariantMap, expected);
        QCOMPARE(CourseSectionNormalizer::normalize(mapFrom(section.constData())), expected);
    }
};

QTEST_APPLESS_MAIN(tst_CourseSectionNormalizer)
#include "tst_CourseSectionNormalizer.moc"
