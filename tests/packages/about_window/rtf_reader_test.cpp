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
        return file.open(QIODevice::ReadOnly) ? rtfPlainText(file.readAll()).value_or(QStringLiteral("<not RTF>"))
                                              : QStringLiteral("<missing>");
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
        QTest::newRow("escaped symbols") << QByteArray(R"({\rtf1 a\\b\{c\}d\~e\_f\-g})")
                                         << QStringLiteral(u"a\\b{c}d\u00A0e\u2011fg");
        QTest::newRow("space after a word is its delimiter")
            << QByteArray(R"({\rtf1 \b  two\b0 x})") << QStringLiteral(" twox");
        QTest::newRow("negative \\u is above 32767")
            << QByteArray(R"({\rtf1 \u-10179?\u-8704?\u-3913?})") << QStringLiteral(u"😀\uF0B7");
        QTest::newRow("\\uc2 skips two fallbacks, escapes included")
            << QByteArray(R"({\rtf1\uc2 \u8364\'80\'80x})") << QStringLiteral(u"€x");
        QTest::newRow("\\uc ends with its group")
            << QByteArray(R"({\rtf1{\uc2 \u8364 ab}\u8364 cd})") << QStringLiteral(u"€€d");
        QTest::newRow("unknown ignorable destination")
            << QByteArray(R"({\rtf1 a{\*\unknownthing b{c}d}e})") << QStringLiteral("ae");
        QTest::newRow("binary data may hold braces")
            << QByteArray("{\\rtf1 a{\\*\\blob\\bin3 }{\\}b}") << QStringLiteral("ab");
        QTest::newRow("font charset switches code page")
            << QByteArray(R"({\rtf1\ansi\deff0{\fonttbl{\f0 A;}{\f1\fcharset161 B;}}\'e1{\f1 \'e1}\'e1})")
            << QStringLiteral(u"áαá");
        QTest::newRow("cut short") << QByteArray(R"({\rtf1 abc{\b de)") << QStringLiteral("abcde");
        QTest::newRow("not RTF") << QByteArray(" {\\rtf1 x}") << QStringLiteral("<not RTF>");
    }
    void controlsAndEscapes()
    {
        QFETCH(QByteArray, rtf);
        QFETCH(QString, expected);
        QCOMPARE(rtfPlainText(rtf).value_or(QStringLiteral("<not RTF>")), expected);
    }
};

QTEST_APPLESS_MAIN(RtfReaderTest)
#include "rtf_reader_test.moc"
