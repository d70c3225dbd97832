#include "app/core/HostFolder.h"
#include "app/core/Mod.h"
#include "db/HostConfigFile.h"
#include "tests/support/Fakes.h"

#include <QDir>
#include <QtTest>

namespace {

const QString kGiveUp =
    QStringLiteral(" Se non riusciamo a trovare il percorso della cartella di Mirkl, è Possiamo "
                   "copiare questo programma dentro la cartella Mirkel");

const QByteArray kHostFile = R"(<Mirkel debug="0" terminal="T" inforivMaster="1" toolbarShow="1">
<DBServerName>S</DBServerName><DBAdminUsername>A</DBAdminUsername>
<DBAdminPassword>B</DBAdminPassword><DBUsername>U</DBUsername><DBPassword>P</DBPassword>
</Mirkel>)";

QString sep()
{
    return QString(QDir::separator());
}

} // namespace

class HostFolderTest : public QObject
{
    Q_OBJECT

private slots:
    void candidatesStartWithTheProgramFolder();
    void programFolderWins_data();
    void programFolderWins();
    void giveUpAtOnce();
    void pickerRepeatsUntilTheFileIsThere();
    void giveUpAfterPicksReturnsTheLastPathTried();
    void folderTextIsUsedUnchanged();
    void pickedFileNameIgnoresCase();
};

void HostFolderTest::candidatesStartWithTheProgramFolder()
{
    const QStringList candidates = hostConfigCandidates(QStringLiteral("PROG"));
    QCOMPARE(candidates.value(0), QStringLiteral("PROG") + sep() + QStringLiteral("Mirkel.XML"));
#ifdef Q_OS_WIN
    QCOMPARE(candidates.mid(1), (QStringList{"c:\\Programmi\\mirkel\\Mirkel.XML",
                                             "C:\\Program Files (x86)\\Mirkel\\Mirkel.XML",
                                             "C:\\Program Files\\Mirkel\\Mirkel.XML"}));
#else
    QCOMPARE(candidates.size(), 1);
#endif
}

void HostFolderTest::programFolderWins_data()
{
    QTest::addColumn<QString>("name");
    QTest::newRow("as the host writes it") << QStringLiteral("Mirkel.XML");
    QTest::newRow("lower case") << QStringLiteral("mirkel.xml");
    QTest::newRow("upper case") << QStringLiteral("MIRKEL.XML");
}

void HostFolderTest::programFolderWins()
{
    QFETCH(QString, name);
    TestPlatform t;
    Mod mod;
    t.writeFile(name, kHostFile);
    // Another folder the picker would offer holds a file too: it must not be asked.
    t.dialogs.folderAnswers = {t.folder()};

    bool gaveUp = true;
    const QString path = FindHostFolder(t.platform, mod, gaveUp);
    QVERIFY(!gaveUp);
#ifdef Q_OS_WIN
    // The file system ignores case: the file opens under the name the tool asks for.
    QCOMPARE(path, t.path(QStringLiteral("Mirkel.XML")));
#else
    QCOMPARE(path, t.path(name));
#endif
    QCOMPARE(t.dialogs.pickFolderCalls, 0);
    QVERIFY(t.dialogs.shown.isEmpty());
}

void HostFolderTest::giveUpAtOnce()
{
    TestPlatform t;
    Mod mod;
    t.dialogs.folderAnswers = {QStringLiteral("xxx")};

    bool gaveUp = false;
    const QString path = FindHostFolder(t.platform, mod, gaveUp);
    QVERIFY(gaveUp);
    QCOMPARE(mod.PickedFolder, QStringLiteral("xxx"));
    QCOMPARE(t.dialogs.pickFolderCalls, 1);
    QCOMPARE(t.dialogs.shown.size(), 1);
    QCOMPARE(t.dialogs.shown[0].text, kGiveUp);
    QCOMPARE(t.dialogs.shown[0].icon, MsgIcon::None);
    QCOMPARE(t.dialogs.shown[0].title, Dialogs::defaultTitle());
    QCOMPARE(t.dialogs.shown[0].buttons, MsgButtons::Ok);
#ifndef Q_OS_WIN
    QCOMPARE(path, t.path(QStringLiteral("Mirkel.XML")));
#endif
    // What the caller does next: the path names no file, so nothing is read.
    HostConfig config;
    QVERIFY(!ReadHostConfig(path, config));
}

void HostFolderTest::pickerRepeatsUntilTheFileIsThere()
{
    TestPlatform t;
    Mod mod;
    t.writeFile(QStringLiteral("vuota/altro.txt"), "x");
    t.writeFile(QStringLiteral("host/mirkel.xml"), kHostFile);
    const QString empty = t.path(QStringLiteral("vuota"));
    const QString host = t.path(QStringLiteral("host"));
    t.dialogs.folderAnswers = {QString(), empty, QString(), host};

    bool gaveUp = true;
    const QString path = FindHostFolder(t.platform, mod, gaveUp);
    QVERIFY(!gaveUp);
    QCOMPARE(t.dialogs.pickFolderCalls, 4);
    QVERIFY(t.dialogs.shown.isEmpty());
    QCOMPARE(path, host + sep() + QStringLiteral("mirkel.xml"));
    QCOMPARE(mod.PickedFolder, host);
}

void HostFolderTest::giveUpAfterPicksReturnsTheLastPathTried()
{
    TestPlatform t;
    Mod mod;
    const QString nowhere = t.path(QStringLiteral("nowhere"));
    t.dialogs.folderAnswers = {nowhere, QString(), QStringLiteral("xxx")};

    bool gaveUp = false;
    const QString path = FindHostFolder(t.platform, mod, gaveUp);
    QVERIFY(gaveUp);
    QCOMPARE(path, nowhere + sep() + QStringLiteral("mirkel.xml"));
    QCOMPARE(t.dialogs.texts(), QStringList{kGiveUp});
}

void HostFolderTest::folderTextIsUsedUnchanged()
{
    // A root folder ends with a separator, so the path gets two of them; it must still
    // name the file and be read.
    TestPlatform t;
    Mod mod;
    t.writeFile(QStringLiteral("host/Mirkel.XML"), kHostFile);
    const QString picked = t.path(QStringLiteral("host")) + sep();
    t.dialogs.folderAnswers = {picked};

    bool gaveUp = true;
    const QString path = FindHostFolder(t.platform, mod, gaveUp);
    QVERIFY(!gaveUp);
    QVERIFY(path.startsWith(picked + sep()));
    QCOMPARE(path.compare(picked + sep() + QStringLiteral("mirkel.xml"), Qt::CaseInsensitive), 0);
    HostConfig config;
    QVERIFY(ReadHostConfig(path, config));
    QCOMPARE(config.DBPassword, QStringLiteral("P"));
}

void HostFolderTest::pickedFileNameIgnoresCase()
{
    TestPlatform t;
    Mod mod;
    t.writeFile(QStringLiteral("host/MIRKEL.XML"), kHostFile);
    const QString host = t.path(QStringLiteral("host"));
    t.dialogs.folderAnswers = {host};

    bool gaveUp = true;
    const QString path = FindHostFolder(t.platform, mod, gaveUp);
    QVERIFY(!gaveUp);
    QCOMPARE(t.dialogs.pickFolderCalls, 1);
    QVERIFY(QFileInfo(path).isFile());
    QCOMPARE(QFileInfo(path).absolutePath(), QFileInfo(host).absoluteFilePath());
}

QTEST_GUILESS_MAIN(HostFolderTest)
#include "HostFolderTest.moc"
