#include "db/HostConfigFile.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

namespace {

const QStringList kBefore{"oldServer", "oldAdmin", "oldAdminPw", "oldUser", "oldPw"};

const QByteArray kAttributes = R"(debug="0" terminal="CASSA1" inforivMaster="1" toolbarShow="1")";
const QByteArray kOptional = R"(<barcodeScannerCom port="COM1" settings="9600,n,8,1"/>
  <bancobarcode code="A"/><bancobarcode1 code="B"/><bancobarcode2 code="C"/>
  <bancobarcode3 code="D"/><bancobarcode4 code="E"/>)";
const QByteArray kDatabase = R"(<DBServerName>SRV\SQL</DBServerName>
  <DBAdminUsername>sa</DBAdminUsername>
  <DBAdminPassword>adminpw</DBAdminPassword>
  <DBUsername>mirkel</DBUsername>
  <DBPassword>userpw</DBPassword>)";

// A host file as the host writes it; each argument replaces one part of it, an empty
// argument keeps the usual part.
QByteArray hostXml(const QByteArray& rootAttributes = {}, const QByteArray& optional = {},
                   const QByteArray& database = {}, const QByteArray& rootName = "Mirkel")
{
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<" + rootName + " " +
           (rootAttributes.isEmpty() ? kAttributes : rootAttributes) + ">\r\n  " +
           (optional.isEmpty() ? kOptional : optional) + "\r\n  " +
           (database.isEmpty() ? kDatabase : database) + "\r\n</" + rootName + ">\r\n";
}

QStringList fields(const HostConfig& c)
{
    return {c.DBServerName, c.DBAdminUsername, c.DBAdminPassword, c.DBUsername, c.DBPassword};
}

HostConfig filled(const QStringList& values)
{
    return {values[0], values[1], values[2], values[3], values[4]};
}

} // namespace

class HostConfigFileTest : public QObject
{
    Q_OBJECT

private slots:
    void rules_data();
    void rules();
    void encodings_data();
    void encodings();
    void missingFileFails();
    void decoding_data();
    void decoding();

private:
    QString write(const QByteArray& bytes)
    {
        const QString path = dir_.filePath(QStringLiteral("Mirkel.XML"));
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
            file.write(bytes) != bytes.size())
            qFatal("cannot write the host file");
        return path;
    }

    QTemporaryDir dir_;
};

void HostConfigFileTest::rules_data()
{
    QTest::addColumn<QByteArray>("xml");
    QTest::addColumn<bool>("result");
    QTest::addColumn<QStringList>("after");

    const QStringList read{"SRV\\SQL", "sa", "adminpw", "mirkel", "userpw"};
    const QByteArray attrs = R"(terminal="CASSA1" inforivMaster="1" toolbarShow="1")";

    QTest::newRow("complete file") << hostXml() << true << read;
    QTest::newRow("no scanner, no barcode elements") << hostXml({}, "<!-- -->") << true << read;
    QTest::newRow("unused root attributes")
        << hostXml(R"(infoRivCompression="zip" infoRivBasePath="c:\x" dataBaseName="?" debug="1" )"
                   R"(terminal="T" inforivMaster="0" toolbarShow="0")")
        << true << read;
    QTest::newRow("root with another name") << hostXml({}, {}, {}, "Host") << false << kBefore;
    QTest::newRow("no terminal") << hostXml(R"(debug="0" inforivMaster="1" toolbarShow="1")")
                                 << false << kBefore;
    QTest::newRow("empty terminal")
        << hostXml(R"(debug="0" terminal="" inforivMaster="1" toolbarShow="1")") << true << read;
    QTest::newRow("no debug") << hostXml(attrs) << false << kBefore;
    QTest::newRow("debug in letters") << hostXml(R"(debug="si" )" + attrs) << false << kBefore;
    QTest::newRow("debug empty") << hostXml(R"(debug="" )" + attrs) << false << kBefore;
    QTest::newRow("debug 1") << hostXml(R"(debug="1" )" + attrs) << true << read;
    QTest::newRow("debug signed") << hostXml(R"(debug="-1" )" + attrs) << true << read;
    QTest::newRow("debug plus sign") << hostXml(R"(debug="+12" )" + attrs) << true << read;
    QTest::newRow("debug with blanks") << hostXml(R"(debug=" 0 " )" + attrs) << true << read;
    QTest::newRow("debug decimal") << hostXml(R"(debug="1.0" )" + attrs) << true << read;
    QTest::newRow("debug infinity") << hostXml(R"(debug="inf" )" + attrs) << false << kBefore;
    QTest::newRow("inforivMaster in letters")
        << hostXml(R"(debug="0" terminal="T" inforivMaster="abc" toolbarShow="1")") << false
        << kBefore;
    QTest::newRow("no toolbarShow")
        << hostXml(R"(debug="0" terminal="T" inforivMaster="1")") << false << kBefore;
    QTest::newRow("toolbarShow in letters")
        << hostXml(R"(debug="0" terminal="T" inforivMaster="1" toolbarShow="x1")") << false
        << kBefore;
    QTest::newRow("scanner without settings")
        << hostXml({}, R"(<barcodeScannerCom port="COM1"/>)") << false << kBefore;
    QTest::newRow("scanner without port")
        << hostXml({}, R"(<barcodeScannerCom settings="9600"/>)") << false << kBefore;
    QTest::newRow("scanner with empty values")
        << hostXml({}, R"(<barcodeScannerCom port="" settings=""/>)") << true << read;
    QTest::newRow("bancobarcode without code")
        << hostXml({}, R"(<bancobarcode/>)") << false << kBefore;
    QTest::newRow("bancobarcode2 without code")
        << hostXml({}, R"(<bancobarcode code="1"/><bancobarcode2/>)") << false << kBefore;
    QTest::newRow("bancobarcode4 without code")
        << hostXml({}, R"(<bancobarcode4 codice="1"/>)") << false << kBefore;
    QTest::newRow("first bancobarcode2 counts")
        << hostXml({}, R"(<bancobarcode2 code="1"/><bancobarcode2/>)") << true << read;
    QTest::newRow("first scanner counts")
        << hostXml({}, R"(<barcodeScannerCom port="1" settings="2"/><barcodeScannerCom/>)") << true
        << read;
    QTest::newRow("first server element counts")
        << hostXml({}, {},
                   R"(<DBServerName>FIRST</DBServerName><DBServerName>SECOND</DBServerName>
  <DBAdminUsername>sa</DBAdminUsername><DBAdminPassword>adminpw</DBAdminPassword>
  <DBUsername>mirkel</DBUsername><DBPassword>userpw</DBPassword>)")
        << true << QStringList{"FIRST", "sa", "adminpw", "mirkel", "userpw"};
    QTest::newRow("missing DBPassword keeps the fields read")
        << hostXml({}, {},
                   R"(<DBServerName>S</DBServerName><DBAdminUsername>A</DBAdminUsername>
  <DBAdminPassword>B</DBAdminPassword><DBUsername>U</DBUsername>)")
        << false << QStringList{"S", "A", "B", "U", "oldPw"};
    QTest::newRow("missing DBAdminPassword stops there")
        << hostXml({}, {},
                   R"(<DBServerName>S</DBServerName><DBAdminUsername>A</DBAdminUsername>
  <DBUsername>U</DBUsername><DBPassword>P</DBPassword>)")
        << false << QStringList{"S", "A", "oldAdminPw", "oldUser", "oldPw"};
    QTest::newRow("missing DBServerName")
        << hostXml({}, {},
                   R"(<DBAdminUsername>A</DBAdminUsername><DBAdminPassword>B</DBAdminPassword>
  <DBUsername>U</DBUsername><DBPassword>P</DBPassword>)")
        << false << kBefore;
    QTest::newRow("empty DBPassword")
        << hostXml({}, {},
                   R"(<DBServerName>S</DBServerName><DBAdminUsername>A</DBAdminUsername>
  <DBAdminPassword>B</DBAdminPassword><DBUsername>U</DBUsername><DBPassword/>)")
        << true << QStringList{"S", "A", "B", "U", ""};
    QTest::newRow("database elements below another element do not count")
        << hostXml({}, {},
                   R"(<DBServerName>S</DBServerName><DBAdminUsername>A</DBAdminUsername>
  <DBAdminPassword>B</DBAdminPassword><DBUsername>U</DBUsername>
  <Altro><DBPassword>P</DBPassword></Altro>)")
        << false << QStringList{"S", "A", "B", "U", "oldPw"};
    QTest::newRow("not well-formed")
        << hostXml().replace("</Mirkel>", "</Mirke>") << false << kBefore;
    QTest::newRow("empty file") << QByteArray() << false << kBefore;
    QTest::newRow("checks come before any field is read")
        << hostXml(R"(debug="0" terminal="T" inforivMaster="1" toolbarShow="1")",
                   R"(<bancobarcode3/>)")
        << false << kBefore;
}

void HostConfigFileTest::rules()
{
    QFETCH(QByteArray, xml);
    QFETCH(bool, result);
    QFETCH(QStringList, after);

    HostConfig config = filled(kBefore);
    QString why;
    QCOMPARE(ReadHostConfig(write(xml), config, &why), result);
    QCOMPARE(fields(config), after);
    // Every failure says what is wrong.
    QCOMPARE(why.isEmpty(), result);
}

void HostConfigFileTest::encodings_data()
{
    QTest::addColumn<QByteArray>("xml");
    QTest::addColumn<QString>("password");

    const auto file = [](const QByteArray& prolog, const QByteArray& password) {
        return prolog +
               R"(<Mirkel debug="0" terminal="T" inforivMaster="1" toolbarShow="1">)"
               R"(<DBServerName>S</DBServerName><DBAdminUsername>A</DBAdminUsername>)"
               R"(<DBAdminPassword>B</DBAdminPassword><DBUsername>U</DBUsername>)"
               "<DBPassword>" +
               password + "</DBPassword></Mirkel>";
    };
    QTest::newRow("ISO-8859-1") << file(R"(<?xml version="1.0" encoding="ISO-8859-1"?>)",
                                        "caff\xE8")
                                << QStringLiteral("caffè");
    QTest::newRow("windows-1252") << file(R"(<?xml version="1.0" encoding="windows-1252"?>)",
                                          "\x80uro\x96")
                                  << QStringLiteral("€uro–");
    QTest::newRow("windows-1252 in single quotes")
        << file(R"(<?xml version='1.0' encoding='Windows-1252' standalone='yes'?>)", "pi\xF9")
        << QStringLiteral("più");
    QTest::newRow("UTF-8") << file(R"(<?xml version="1.0" encoding="UTF-8"?>)", "caff\xC3\xA8")
                           << QStringLiteral("caffè");
    QTest::newRow("UTF-8 with byte-order mark")
        << file("\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"utf-8\"?>", "caff\xC3\xA8")
        << QStringLiteral("caffè");
    QTest::newRow("byte-order mark, no declaration")
        << file("\xEF\xBB\xBF", "\xE2\x82\xAC") << QStringLiteral("€");
    QTest::newRow("no declaration") << file({}, "plain") << QStringLiteral("plain");
}

void HostConfigFileTest::encodings()
{
    QFETCH(QByteArray, xml);
    QFETCH(QString, password);

    HostConfig config;
    QVERIFY(ReadHostConfig(write(xml), config));
    QCOMPARE(config.DBPassword, password);
    QCOMPARE(config.DBServerName, QStringLiteral("S"));
}

void HostConfigFileTest::missingFileFails()
{
    HostConfig config = filled(kBefore);
    QVERIFY(!ReadHostConfig(dir_.filePath(QStringLiteral("nowhere/Mirkel.XML")), config));
    QVERIFY(!ReadHostConfig(dir_.path(), config)); // a folder is not a file
    QCOMPARE(fields(config), kBefore);
}

// The decoding on its own: some Qt builds parse these encodings themselves, which would
// hide a wrong decoder from the tests above.
void HostConfigFileTest::decoding_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<bool>("decoded");
    QTest::addColumn<QString>("text");

    QTest::newRow("windows-1252")
        << QByteArray("<?xml version=\"1.0\" encoding=\"windows-1252\"?><a>\x80\xE8</a>") << true
        << QStringLiteral("<?xml version=\"1.0\" encoding=\"windows-1252\"?><a>€è</a>");
    QTest::newRow("cp1252") << QByteArray("<?xml version='1.0' encoding='CP1252'?><a>\x9C</a>")
                            << true
                            << QStringLiteral("<?xml version='1.0' encoding='CP1252'?><a>œ</a>");
    QTest::newRow("ISO-8859-1")
        << QByteArray("<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><a>\x80\xE8</a>") << true
        << QStringLiteral("<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><a>\u0080è</a>");
    QTest::newRow("UTF-8 BOM dropped")
        << QByteArray("\xEF\xBB\xBF<a>\xC3\xA8</a>") << true << QStringLiteral("<a>è</a>");
    QTest::newRow("no declaration is UTF-8")
        << QByteArray("<a>\xC3\xA8</a>") << true << QStringLiteral("<a>è</a>");
    QTest::newRow("unknown encoding left to the parser")
        << QByteArray("<?xml version=\"1.0\" encoding=\"UTF-16\"?><a/>") << false << QString();
}

void HostConfigFileTest::decoding()
{
    QFETCH(QByteArray, bytes);
    QFETCH(bool, decoded);
    QFETCH(QString, text);

    bool ok = !decoded;
    QCOMPARE(decodeHostXml(bytes, ok), text);
    QCOMPARE(ok, decoded);
}

QTEST_GUILESS_MAIN(HostConfigFileTest)
#include "HostConfigFileTest.moc"
