// Records are read in place: the scanner accepts exactly the JSON the parser accepts and gives the
// same values, the fields of every kind of change read back as written (alone and packed), and a
// record whose checked bytes are no valid record is reported without holding up the others.

#include "desktop/user_identity.h"
#include "engine/journal/journal.h"
#include "engine/journal/journal_files.h"
#include "engine/journal/json_scan.h"
#include "engine/storage/content_hash.h"
#include "support/engine_test_support.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTest>

using namespace vantrel;
using namespace Qt::StringLiterals;
using namespace vantrel::testing;

#ifndef Q_MOC_RUN
namespace {

// What the parser makes of `text` as an object: none when it is not one.
std::optional<QJsonObject> parsed(const QByteArray& text)
{
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(text, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return std::nullopt;
    return document.object();
}

// Whether the scanner and the parser agree on `text`: both refuse it, or both read it and every
// member's value (the last of a repeated key) is the parser's. The scanner never reads what the
// parser refuses.
bool agree(const QByteArray& text)
{
    json_scan::Members members;
    const bool scanned = json_scan::objectMembers(text, members);
    const auto object = parsed(text);
    // The one corner where the scanner is stricter: text that is not UTF-8 (the parser takes a
    // byte after a backslash as it is).
    if (!scanned && object && !text.isValidUtf8())
        return true;
    if (scanned != object.has_value()) {
        qWarning("scanner %s, parser %s: %s", scanned ? "reads" : "refuses", object ? "reads" : "refuses",
                 text.toHex(' ').constData());
        return false;
    }
    if (!object)
        return true;
    QJsonObject fromScan;
    for (const auto& member : members) {
        const auto key = json_scan::stringValue('"' + member.key.toByteArray() + '"');
        if (!key)
            return false;
        fromScan.insert(*key, json_scan::jsonValue(member.value));
    }
    if (fromScan != *object)
        qWarning("values differ: %s", text.constData());
    return fromScan == *object;
}

QByteArray withChecksum(const QByteArray& body)
{
    return body.chopped(1) + R"(,"checksum":")" + hashBytes(body).toHex().toLatin1() + "\"}";
}

// A record of format 2 holding `changes` (JSON text of the array), checksum and all.
QByteArray record(qint64 seq, const QByteArray& changes)
{
    return withChecksum(R"({"format":2,"lamport":)" + QByteArray::number(seq) + R"(,"client":"CLIENT-ANA","seq":)"
                        + QByteArray::number(seq)
                        + R"(,"date":"2026-12-01T10:00:00.000Z","user":"ana","fullName":"Ana","host":"cutting-room",)"
                        + R"("changes":)" + changes + "}");
}

QByteArray createChange(const QString& name)
{
    const QJsonObject change{{u"bundle"_s, IdFor<VersionBundle>::make().toString()},
                             {u"kind"_s, u"create"_s},
                             {u"name"_s, name}};
    return '[' + QJsonDocument(change).toJson(QJsonDocument::Compact) + ']';
}

} // namespace
#endif

class RecordFieldsTest : public QObject {
    Q_OBJECT

private slots:
    void theScannerReadsWhatTheParserReads();
    void fieldsOfEveryKindReadBackAsWritten();
    void aCheckedRecordThatIsNoValidRecordIsReportedAndSkipped();
};

// The cases hold JSON text that the meta-object compiler need not read.
#ifndef Q_MOC_RUN
void RecordFieldsTest::theScannerReadsWhatTheParserReads()
{
    const QList<QByteArray> texts{
        "{}", " \r\n\t{ } \n", R"({"a":1,"b":-0.5e+3,"c":1E2,"d":0,"e":-0,"f":1.,"g":.5})",
        R"({"t":true,"f":false,"n":null,"s":""})", "{\"raw tab\":\"a\tb\"}", R"({"odd escape":"\x\q"})", R"({"nested":{"list":[1,[2,{"x":[]}],"three"],"o":{}}})",
        R"({"esc":"quote \" slash \\ \/ \b\f\n\r\t","u":"\u00e9\u0000\u001f"})",
        "{\"raw\":\"caf\xc3\xa9 \xf0\x9f\x8e\xac\"}", R"({"pair":"\ud83c\udfac"})",
        R"({"n\u0061me":"escaped key","name":"plain key"})", R"({"dup":1,"dup":2})",
        // Refused by both.
        "", "[]", "[{}]", "{", "}", "{}{}", "{} x", R"({"a":1,})", R"({"a":[1,]})", R"({"a":01})",
        R"({"a":1e})", R"({"a":+1})", R"({"a":tru})", R"({"a":nul})",
        R"({"a" 1})", R"({a:1})", R"({"a":"unterminated})",
        R"({"a":"\u12"})", "{\"a\":\"\xff\"}", "{\"a\":\"\xc3\"}", R"({'a':1})", R"({"a":1 "b":2})"};
    for (const QByteArray& text : texts)
        QVERIFY2(agree(text), text.constData());

    // Every one-byte change of a record's text: the two agree on each.
    const QByteArray sample =
        R"({"changes":[{"bundle":"0D1C9E4A-2B7F-4C59-8E1A-6F3D2B9C7A10","kind":"version","application":)"
        R"({"name":"Kdenlive","versions":[24,12.5]},"message":"Cut \"B\"\\n","origin":"checkedIn"}],)"
        R"("lamport":12,"date":"2026-12-01T10:00:00.000Z","user":"ana","ok":true,"none":null})";
    for (qsizetype i = 0; i < sample.size(); ++i) {
        for (const char changed : {char(sample[i] ^ 0x01), char(sample[i] ^ 0x80), ',', '"', '}', ' '}) {
            QByteArray text = sample;
            text[i] = changed;
            QVERIFY2(agree(text), qPrintable(u"byte %1"_s.arg(i)));
        }
        QVERIFY(agree(sample.first(i)));
    }

    // Nesting far beyond any record is refused, without running out of stack.
    json_scan::Members members;
    QVERIFY(!json_scan::objectMembers("{\"a\":" + QByteArray(200000, '[') + QByteArray(200000, ']') + "}", members));
    QCOMPARE(json_scan::wholeNumber("9000000000000000"), std::optional<qint64>(9'000'000'000'000'000));
    QCOMPARE(json_scan::wholeNumber("1.2e3"), std::optional<qint64>(1200));
    QCOMPARE(json_scan::wholeNumber("-1"), std::nullopt);
    QCOMPARE(json_scan::wholeNumber("1.5"), std::nullopt);
    QCOMPARE(json_scan::wholeNumber("9000000000000001"), std::nullopt);
    QCOMPARE(json_scan::stringValue(R"("\ud83c")"), std::nullopt); // half a pair names no character
}

void RecordFieldsTest::fieldsOfEveryKindReadBackAsWritten()
{
    QTemporaryDir folder;
    const QString journal = folder.path() + u"/journal"_s;
    const QString tricky = u"Reel \"7\" \\ é 🎬\n\ttab"_s;
    const QJsonObject application{{u"name"_s, u"Kdenlive"_s}, {u"version"_s, u"24.12"_s},
                                  {u"bundleIdentifier"_s, QJsonValue::Null}, {u"flags"_s, QJsonArray{1, 2.5, true}}};
    const auto someId = [] { return IdFor<VersionBundle>::make().toString(); };
    const QList<QPair<RecordKind, QJsonObject>> kinds{
        {RecordKind::create, {{u"type"_s, QJsonObject{{u"kind"_s, u"collection"_s}}}, {u"name"_s, tricky}}},
        {RecordKind::version,
         {{u"version"_s, someId()}, {u"manifest"_s, QString(64, u'a')}, {u"message"_s, tricky},
          {u"application"_s, application}, {u"origin"_s, u"checkedIn"_s}}},
        {RecordKind::revert, {{u"version"_s, someId()}, {u"target"_s, someId()}, {u"application"_s, QJsonObject()}}},
        {RecordKind::rename, {{u"name"_s, u""_s}}},
        {RecordKind::nest, {{u"child"_s, someId()}}},
        {RecordKind::unnest, {{u"child"_s, someId()}}},
        {RecordKind::trash, {{u"unnestFrom"_s, QJsonArray{someId(), someId()}}}},
        {RecordKind::restore, {}},
        {RecordKind::deletePermanently, {}},
        {RecordKind::lock, {{u"message"_s, u"checked out"_s}, {u"count"_s, 3}}},
        {RecordKind::editing, {{u"message"_s, tricky}}},
        {RecordKind::discard, {{u"big"_s, 1e300}, {u"negative"_s, -42}}},
    };
    std::vector<JournalChange> changes;
    for (const auto& [kind, fields] : kinds)
        changes.push_back({IdFor<VersionBundle>::make(), kind, fields});

    Journal writer(journal, u"CLIENT-ANA"_s);
    writer.setPackThresholdForTesting(2);
    const UserIdentity author{u"ana"_s, u"Ana \"Cutter\" Lima"_s, u"host-ä"_s};
    for (const auto& change : changes) {
        writer.append({change}, author); // one record each, packed two by two
        writer.packIfDue();
    }
    writer.append(changes, author);      // all in one record, left unpacked
    QVERIFY(!QDir(journal + u"/CLIENT-ANA"_s).entryList({u"pack-*"_s}).isEmpty());

    QStringList problems;
    const auto read = Journal(journal, u"READER"_s).readAll(problems);
    QCOMPARE(problems, QStringList());
    QCOMPARE(read.size(), changes.size() * 2);
    for (size_t i = 0; i < read.size(); ++i) {
        const JournalChange& written = changes[i % changes.size()];
        const JournalRecord& got = read[i];
        QCOMPARE(got.kind, written.kind);
        QCOMPARE(got.bundle, written.bundle);
        QCOMPARE(got.fields.toObject(), written.fields);
        QCOMPARE(QJsonObject(got.fields), written.fields);
        for (const QString& key : written.fields.keys())
            QCOMPARE(got.fields.value(key), written.fields.value(key));
        // The change's address is not one of its fields.
        QVERIFY(got.fields.value(u"bundle"_s).isUndefined() && got.fields.value(u"kind"_s).isUndefined());
        QVERIFY(got.fields.value(u"absent"_s).isUndefined());
        QCOMPARE(got.fullName(), author.fullName);
        QCOMPARE(got.hostName(), author.hostName);
    }
}

void RecordFieldsTest::aCheckedRecordThatIsNoValidRecordIsReportedAndSkipped()
{
    QTemporaryDir folder;
    const QString journal = folder.path() + u"/journal"_s;
    const QString client = journal + u"/CLIENT-ANA"_s;
    QVERIFY(QDir().mkpath(client));
    // Each has a checksum of its own, so only its contents can say it is no record.
    const QList<QPair<QByteArray, QString>> bad{
        {"[{\"bundle\":\"x\",\"kind\":\"create\",}]", u"Its checked contents are not a record."_s},
        {"[{\"bundle\":\"x\",\"kind\":\"create\",\"name\":\"\xff\"}]", u"Its checked contents are not a record."_s},
        {"[[]]", u"A change of the record is not an object."_s},
        {"[]", u"The record holds no change."_s},
        {R"([{"bundle":"not an id","kind":"create"}])", u"\"not an id\" is not an identifier."_s},
        {R"([{"bundle":12,"kind":"create"}])", u"Expected an identifier string."_s},
        {R"([{"bundle":"0D1C9E4A-2B7F-4C59-8E1A-6F3D2B9C7A10"}])", u"The record has no \"kind\"."_s},
    };
    // The first between two good records of a pack; the others as record files after it.
    writeFile(client + u"/pack-000000000001-000000000003.json"_s,
              journal_files::encodePack(
                  {record(1, createChange(u"First"_s)), record(2, bad.front().first), record(3, createChange(u"Second"_s))}));
    for (qsizetype i = 1; i < bad.size(); ++i) {
        const QString path = client + u"/"_s + journal_files::recordFileName(i + 3);
        writeFile(path, record(i + 3, bad[i].first));
        setAge(path, 600);
    }
    const qint64 lastSeq = bad.size() + 3;
    writeFile(client + u"/"_s + journal_files::recordFileName(lastSeq), record(lastSeq, createChange(u"Last"_s)));

    QStringList problems;
    Journal reader(journal, u"READER"_s);
    const auto read = reader.readAll(problems);
    QStringList names;
    for (const auto& change : read)
        names << change.fields.value(u"name"_s).toString();
    QCOMPARE(names, (QStringList{u"First"_s, u"Second"_s, u"Last"_s}));
    QCOMPARE(problems.size(), bad.size());
    QVERIFY2(problems.front().contains(u"pack-000000000001-000000000003.json, line 3"_s), qPrintable(problems[0]));
    for (qsizetype i = 0; i < bad.size(); ++i) {
        QVERIFY2(problems[i].endsWith(bad[i].second), qPrintable(problems[i]));
        QCOMPARE(reader.recordState(u"CLIENT-ANA"_s, i == 0 ? 2 : i + 3), RecordState::damaged);
    }
    QCOMPARE(reader.recordState(u"CLIENT-ANA"_s, lastSeq), RecordState::read);
}
#endif

QTEST_GUILESS_MAIN(RecordFieldsTest)
#include "record_fields_test.moc"
