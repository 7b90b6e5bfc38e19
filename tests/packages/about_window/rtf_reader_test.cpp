#include "packages/about_window/rtf_reader.h"

#include <QFile>
#include <QTest>

using namespace vantrel;

class RtfReaderTest : public QObject {
    Q_OBJECT

private:
    static QString readDocument(const QString& name)
    {
        QFile file(QStringLiteral(":/documents/") + name);
        if (!file.open(QIODevice::ReadOnly))
            qFatal("missing test document");
        const auto text = rtfPlainText(file.readAll());
        return text.value_or(QStringLiteral("<not RTF>"));
    }

private Q_SLOTS:
    // Documents in the shapes that TextEdit, LibreOffice and WordPad write.
    void wordProcessorDocuments_data()
    {
        QTest::addColumn<QString>("document");
        QTest::addColumn<QString>("expected");
        QTest::newRow("TextEdit") << "textedit.rtf"
                                  << QStringLiteral(u"Café crème – naïve “quoted”\n\n"
                                                    u"Bold and {braces} and a back\\slash\n"
                                                    u"Price: 12\u00A0€, Привет, 日本😀\n"
                                                    u"vantrel.app\n"
                                                    u"\t•\tfirst item");
        QTest::newRow("LibreOffice") << "libreoffice.rtf"
                                     << QStringLiteral(u"Grüße aus München – καλημέρα\n"
                                                       u"Nested bold and italic text\n"
                                                       u"After the picture\n");
        QTest::newRow("WordPad") << "wordpad.rtf"
                                 << QStringLiteral(u"Straße 1½ € “quoted”\n"
                                                   u"Привет -- при\n"
                                                   u"\n"
                                                   u"Tab\tend\nnext\n");
    }
    void wordProcessorDocuments()
    {
        QFETCH(QString, document);
        QFETCH(QString, expected);
        QCOMPARE(readDocument(document), expected);
    }

    void controlsAndEscapes_data()
    {
        QTest::addColumn<QByteArray>("rtf");
        QTest::addColumn<QString>("expected");
        QTest::newRow("escaped symbols") << QByteArray(R"({\rtf1 a\\b\{c\}d\~e\_f\-g})") << QStringLiteral(u"a\\b{c}d\u00A0e\u2011fg");
        QTest::newRow("space after a word is its delimiter")
            << QByteArray(R"({\rtf1 \b  two\b0 x})") << QStringLiteral(" twox");
        QTest::newRow("negative \\u is above 32767")
            << QByteArray(R"({\rtf1 \u-10179?\u-8704?\u-3913?})") << QStringLiteral(u"😀\uF0B7");
        QTest::newRow("\\uc2 skips two fallbacks, escapes included")
            << QByteArray(R"({\rtf1\uc2 \u8364\'80\'80x})") << QStringLiteral(u"€x");
        QTest::newRow("\\uc0 skips nothing") << QByteArray(R"({\rtf1\uc0\u8364 x})") << QStringLiteral(u"€x");
        QTest::newRow("\\uc ends with its group")
            << QByteArray(R"({\rtf1{\uc2 \u8364 ab}\u8364 cd})") << QStringLiteral(u"€€d");
        QTest::newRow("a group ends the fallback")
            << QByteArray(R"({\rtf1\uc3 \u8364 a}x)") << QStringLiteral(u"€");
        QTest::newRow("unknown ignorable destination")
            << QByteArray(R"({\rtf1 a{\*\unknownthing b{c}d}e})") << QStringLiteral("ae");
        QTest::newRow("binary data may hold braces")
            << QByteArray("{\\rtf1 a{\\*\\blob\\bin3 }{\\}b}") << QStringLiteral("ab");
        QTest::newRow("backslash and line end is a paragraph")
            << QByteArray("{\\rtf1 a\\\nb}") << QStringLiteral("a\nb");
        QTest::newRow("raw line ends are not text") << QByteArray("{\\rtf1 a\r\nb\n}") << QStringLiteral("ab");
        QTest::newRow("named characters")
            << QByteArray(R"({\rtf1\ldblquote x\rdblquote\emdash\bullet\lquote\rquote})")
            << QStringLiteral(u"“x”—•‘’");
        QTest::newRow("Mac Roman") << QByteArray(R"({\rtf1\mac \'8e\'9f})") << QStringLiteral(u"éü");
        QTest::newRow("\\ansicpg1251") << QByteArray(R"({\rtf1\ansi\ansicpg1251 \'cf\'f0\'e8})") << QStringLiteral(u"При");
        QTest::newRow("UTF-8 code page across groups")
            << QByteArray(R"({\rtf1\ansi\ansicpg65001 \'c3\'a9{\b \'e2\'82\'ac}})") << QStringLiteral(u"é€");
        QTest::newRow("font charset switches code page")
            << QByteArray(R"({\rtf1\ansi\deff0{\fonttbl{\f0 A;}{\f1\fcharset161 B;}}\'e1{\f1 \'e1}\'e1})")
            << QStringLiteral(u"áαá");
        QTest::newRow("cut short") << QByteArray(R"({\rtf1 abc{\b de)") << QStringLiteral("abcde");
        QTest::newRow("nothing after the document") << QByteArray(R"({\rtf1 a}b)") << QStringLiteral("a");
    }
    void controlsAndEscapes()
    {
        QFETCH(QByteArray, rtf);
        QFETCH(QString, expected);
        QCOMPARE(rtfPlainText(rtf).value_or(QStringLiteral("<not RTF>")), expected);
    }

    void notRtf()
    {
        QVERIFY(!rtfPlainText(QByteArray()).has_value());
        QVERIFY(!rtfPlainText("plain words").has_value());
        QVERIFY(!rtfPlainText(" {\\rtf1 x}").has_value());
    }
};

QTEST_APPLESS_MAIN(RtfReaderTest)
#include "rtf_reader_test.moc"
