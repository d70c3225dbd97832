#include "db/CodeTable.h"

#include <QTest>

using CodeTable::Line;

class CodeTableTest : public QObject
{
    Q_OBJECT

private slots:
    void readNumber_data();
    void readNumber();
    void normalisedCode_data();
    void normalisedCode();
    void parseLine_data();
    void parseLine();
    void blankLines();
    void stagedTitle_data();
    void stagedTitle();
};

void CodeTableTest::readNumber_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<double>("expected");
    QTest::newRow("plain") << "678" << 678.0;
    QTest::newRow("leading zeros vanish") << "0678" << 678.0;
    QTest::newRow("blanks inside are ignored") << " 12 34 " << 1234.0;
    QTest::newRow("tabs and line feeds ignored") << "1\t2\n3" << 123.0;
    QTest::newRow("stops at a letter") << "12ab34" << 12.0;
    QTest::newRow("no digits reads 0") << "abc" << 0.0;
    QTest::newRow("empty") << "" << 0.0;
    QTest::newRow("sign") << "-5" << -5.0;
    QTest::newRow("plus sign") << "+7" << 7.0;
    QTest::newRow("second sign stops") << "+-7" << 0.0;
    QTest::newRow("decimal") << "1.5" << 1.5;
    QTest::newRow("second point stops") << "1.5.3" << 1.5;
    QTest::newRow("exponent") << "12E3" << 12000.0;
    QTest::newRow("D exponent as the host reads it") << "2d2" << 200.0;
    QTest::newRow("dangling exponent") << "5E" << 5.0;
    QTest::newRow("exponent sign without digits") << "5E-" << 5.0;
    QTest::newRow("carriage return stops") << "12\r3" << 12.0;
}

void CodeTableTest::readNumber()
{
    QFETCH(QString, text);
    QFETCH(double, expected);
    QCOMPARE(CodeTable::readNumber(text), expected);
}

void CodeTableTest::normalisedCode_data()
{
    QTest::addColumn<double>("number");
    QTest::addColumn<QString>("expected");
    QTest::newRow("short code padded") << 678.0 << "000000678";
    QTest::newRow("zero") << 0.0 << "000000000";
    QTest::newRow("nine digits unchanged") << 123456789.0 << "123456789";
    QTest::newRow("longer keeps last nine") << 1234567890123.0 << "567890123";
    QTest::newRow("negative keeps its sign") << -5.0 << "0000000-5";
    QTest::newRow("fraction") << 1.5 << "0000001.5";
}

void CodeTableTest::normalisedCode()
{
    QFETCH(double, number);
    QFETCH(QString, expected);
    QCOMPARE(CodeTable::normalisedCode(number), expected);
}

void CodeTableTest::parseLine_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<int>("shape");
    QTest::addColumn<double>("newCode");
    QTest::addColumn<QString>("title");
    QTest::addColumn<double>("oldCode");
    const int complete = int(Line::Shape::Complete);
    const int noFour = int(Line::Shape::NoColumnFour);
    const int tooShort = int(Line::Shape::TooShort);
    QTest::newRow("four TABs") << "12345\tgiornale d'esempio\t678\t1\t" << complete << 12345.0
                               << "giornale d'esempio" << 678.0;
    QTest::newRow("extra columns ignored") << "1\tA\t2\t3\tx\ty" << complete << 1.0 << "A" << 2.0;
    QTest::newRow("title blanks trimmed")
        << "1\t  A B  \t2\t3\t" << complete << 1.0 << "A B" << 2.0;
    QTest::newRow("three TABs") << "1\tA\t0678\t3" << noFour << 1.0 << "A" << 678.0;
    // A code column that holds no number refuses its line instead of staging 000000000.
    const int badCode = int(Line::Shape::BadCode);
    QTest::newRow("TABs only") << "\t\t\t\t" << badCode << 0.0 << "" << 0.0;
    QTest::newRow("caption line") << "CODICE NUOVO\tTITOLO\tCODICE VECCHIO\tX\t" << badCode << 0.0
                                  << "TITOLO" << 0.0;
    QTest::newRow("letters after the old code")
        << "1\tA\t678abc\t1\t" << badCode << 1.0 << "A" << 0.0;
    QTest::newRow("blanks and exponent are a number")
        << " 1 2\tA\t1E3\t\t" << complete << 12.0 << "A" << 1000.0;
    QTest::newRow("two TABs") << "1\tA\t2" << tooShort << 0.0 << "" << 0.0;
    QTest::newRow("no TAB") << "12345 giornale 678" << tooShort << 0.0 << "" << 0.0;
    QTest::newRow("NUL in the title")
        << QStringLiteral("1\tA") + QChar(0) + "B\t2\t3\t" << int(Line::Shape::Nul) << 1.0
        << QStringLiteral("A") + QChar(0) + "B" << 2.0;
    QTest::newRow("SQL-looking title kept as text")
        << "5\t'); DROP TABLE Prodotti;--\t1 OR 1=1\t0\t" << badCode << 5.0
        << "'); DROP TABLE Prodotti;--" << 0.0;
}

void CodeTableTest::parseLine()
{
    QFETCH(QString, line);
    QFETCH(int, shape);
    QFETCH(double, newCode);
    QFETCH(QString, title);
    QFETCH(double, oldCode);
    const Line parsed = CodeTable::parseLine(line);
    QCOMPARE(int(parsed.shape), shape);
    if (parsed.shape == Line::Shape::TooShort)
        return;
    QCOMPARE(parsed.newCode, newCode);
    QCOMPARE(parsed.title, title);
    QCOMPARE(parsed.oldCode, oldCode);
}

void CodeTableTest::blankLines()
{
    QVERIFY(CodeTable::isBlankLine(QString()));
    QVERIFY(CodeTable::isBlankLine(QStringLiteral("    ")));
    QVERIFY(!CodeTable::isBlankLine(QStringLiteral("\t")));
    QVERIFY(!CodeTable::isBlankLine(QStringLiteral(" x ")));
}

void CodeTableTest::stagedTitle_data()
{
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("expected");
    QTest::newRow("blanks trimmed") << " giornale d'esempio "
                                    << "GIORNALE D'ESEMPIO";
    QTest::newRow("only blanks trimmed") << "\tcittà "
                                         << "\tCITTÀ";
    // Full case mapping would give "SS" and "FI": one letter more each.
    QTest::newRow("sharp s keeps its place") << "Straße ﬁne"
                                             << "STRAßE ﬁNE";
    QTest::newRow("letter outside the basic plane")
        << QString::fromUtf8("\xF0\x90\x90\xA8x") << QString::fromUtf8("\xF0\x90\x90\x80X");
    QTest::newRow("lone surrogate kept")
        << QString(QChar(0xD801)) + "a" << QString(QChar(0xD801)) + "A";
}

void CodeTableTest::stagedTitle()
{
    QFETCH(QString, title);
    QFETCH(QString, expected);
    QCOMPARE(CodeTable::stagedTitle(title), expected);
}

QTEST_APPLESS_MAIN(CodeTableTest)
#include "CodeTableTest.moc"
