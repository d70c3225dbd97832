#include "platform/Cp1252.h"

#include <QSet>
#include <QStringDecoder>
#include <QTest>

#ifdef Q_OS_WIN
#include <windows.h>
#endif

class Cp1252Test : public QObject
{
    Q_OBJECT

private slots:
    void everyByteRoundTrips();
    void agreesWithTheSystemConverter();
    void decodesSingleBytes_data();
    void decodesSingleBytes();
    void encodesText_data();
    void encodesText();
};

void Cp1252Test::everyByteRoundTrips()
{
    QByteArray all;
    for (int b = 0; b < 256; ++b)
        all.append(char(b));
    const QString text = Cp1252::decode(all);
    QCOMPARE(text.size(), 256);
    QCOMPARE(QSet<QChar>(text.begin(), text.end()).size(), 256);
    QCOMPARE(Cp1252::encode(text), all);
}

void Cp1252Test::agreesWithTheSystemConverter()
{
    // An independent table: Windows' own code page 1252, else ICU's where the Qt build has it.
#ifndef Q_OS_WIN
    QStringDecoder icu("windows-1252");
    if (!icu.isValid())
        QSKIP("this Qt build has no windows-1252 converter to compare with");
#endif
    for (int b = 0; b < 256; ++b) {
        if (b == 0x81 || b == 0x8D || b == 0x8F || b == 0x90 || b == 0x9D)
            continue; // undefined in the code page; converters differ
        const QByteArray one(1, char(b));
#ifdef Q_OS_WIN
        wchar_t wide = 0;
        QCOMPARE(MultiByteToWideChar(1252, MB_ERR_INVALID_CHARS, one.constData(), 1, &wide, 1), 1);
        const QString expected{QChar(char16_t(wide))};
#else
        const QString expected = icu.decode(one);
#endif
        QVERIFY2(Cp1252::decode(one) == expected, qPrintable(QString::number(b, 16)));
    }
}

void Cp1252Test::decodesSingleBytes_data()
{
    QTest::addColumn<int>("byte");
    QTest::addColumn<int>("unicode");
    QTest::newRow("NUL") << 0x00 << 0x0000;
    QTest::newRow("tab") << 0x09 << 0x0009;
    QTest::newRow("letter") << 0x41 << 0x0041;
    QTest::newRow("euro") << 0x80 << 0x20AC;
    QTest::newRow("S caron") << 0x8A << 0x0160;
    QTest::newRow("right quote") << 0x92 << 0x2019;
    QTest::newRow("trade mark") << 0x99 << 0x2122;
    QTest::newRow("Y diaeresis") << 0x9F << 0x0178;
    QTest::newRow("no-break space") << 0xA0 << 0x00A0;
    QTest::newRow("e grave") << 0xE8 << 0x00E8;
    QTest::newRow("y diaeresis") << 0xFF << 0x00FF;
    // The five bytes the code page leaves undefined become the C1 controls.
    QTest::newRow("undefined 81") << 0x81 << 0x0081;
    QTest::newRow("undefined 8D") << 0x8D << 0x008D;
    QTest::newRow("undefined 8F") << 0x8F << 0x008F;
    QTest::newRow("undefined 90") << 0x90 << 0x0090;
    QTest::newRow("undefined 9D") << 0x9D << 0x009D;
}

void Cp1252Test::decodesSingleBytes()
{
    QFETCH(int, byte);
    QFETCH(int, unicode);
    const QString text = Cp1252::decode(QByteArray(1, char(byte)));
    QCOMPARE(text.size(), 1);
    QCOMPARE(int(text[0].unicode()), unicode);
}

void Cp1252Test::encodesText_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("empty") << QString() << QByteArray();
    QTest::newRow("ascii") << QStringLiteral("Corriere 678") << QByteArray("Corriere 678");
    QTest::newRow("euro and accents")
        << QStringLiteral("caffè 1€ «sì»") << QByteArray("caff\xE8 1\x80 \xABs\xEC\xBB");
    QTest::newRow("typographic quotes") << QStringLiteral("l’“Eco”…")
                                        << QByteArray("l\x92\x93"
                                                      "Eco\x94\x85");
    QTest::newRow("outside: Polish") << QStringLiteral("Łódź")
                                     << QByteArray("?\xF3"
                                                   "d?");
    QTest::newRow("outside: Japanese") << QStringLiteral("新聞") << QByteArray("??");
    QTest::newRow("outside: C1 control 80") << QString(QChar(0x80)) << QByteArray("?");
    QTest::newRow("outside: beyond the BMP, one character")
        << QStringLiteral("a\U0001F4F0b") << QByteArray("a?b");
    QTest::newRow("lone surrogate") << QString(QChar(0xD800)) << QByteArray("?");
    QTest::newRow("NUL kept") << QString(QChar(0)) << QByteArray(1, '\0');
}

void Cp1252Test::encodesText()
{
    QFETCH(QString, text);
    QFETCH(QByteArray, bytes);
    QCOMPARE(Cp1252::encode(text), bytes);
}

QTEST_GUILESS_MAIN(Cp1252Test)
#include "Cp1252Test.moc"
