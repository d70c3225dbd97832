#include "app/gui/QtDialogs.h"
#include "app/gui/frmFolderSelect.h"

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFileSystemModel>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTimer>
#include <QTreeView>
#include <QWindow>
#include <QtTest>
#include <functional>

namespace {

// Runs action on the modal dialog as soon as it is up.
void whenModal(std::function<void(QWidget*)> action)
{
    QTimer::singleShot(0, [action] {
        QWidget* modal = QApplication::activeModalWidget();
        if (!modal) {
            whenModal(action);
            return;
        }
        action(modal);
    });
}

QString rootText()
{
#ifdef Q_OS_WIN
    return QStringLiteral("C:\\");
#else
    return QStringLiteral("/");
#endif
}

} // namespace

class FolderSelectTest : public QObject
{
    Q_OBJECT

private slots:
    void controls_data();
    void controls();
    void window();
    void startsAtTheRoot();
    void folderListFillsText1();
    void okHandsBackText1Unchanged();
    void esciGivesUp();
    void closeBoxHandsBackNothing();
    void driveNotReadyKeepsThePreviousDrive();

    void pickFolderShowsThePickerModally();
    void messageBoxes_data();
    void messageBoxes();
};

void FolderSelectTest::controls_data()
{
    QTest::addColumn<QRect>("geometry");
    QTest::addColumn<QString>("text");
    // clang-format off
    QTest::newRow("Label1") << QRect(16, 8, 385, 41) << "Non trovato il percorso della Cartella  Mirkel";
    QTest::newRow("Label2") << QRect(24, 56, 105, 17) << "IMPORTANTE !";
    QTest::newRow("lblWarning") << QRect(24, 72, 265, 41)
        << "Indicare il percorso della cartella di Mirkel  Esempio:   c:\\programmi\\mirkel";
    QTest::newRow("Drive") << QRect(24, 120, 369, 21) << "";
    QTest::newRow("Folders") << QRect(24, 144, 369, 171) << "";
    QTest::newRow("Text1") << QRect(24, 328, 369, 25) << "";
    QTest::newRow("cmdOk") << QRect(424, 120, 81, 57) << "&Ok";
    QTest::newRow("cmdEsci") << QRect(432, 304, 73, 49) << "&Esci";
    // clang-format on
}

void FolderSelectTest::controls()
{
    QFETCH(QRect, geometry);
    QFETCH(QString, text);
    frmFolderSelect picker;
    QWidget* control = picker.findChild<QWidget*>(QString::fromLatin1(QTest::currentDataTag()));
    QVERIFY(control);
    QCOMPARE(control->geometry(), geometry);
    if (auto* label = qobject_cast<QLabel*>(control))
        QCOMPARE(label->text(), text);
    if (auto* button = qobject_cast<QAbstractButton*>(control))
        QCOMPARE(button->text(), text);
}

void FolderSelectTest::window()
{
    frmFolderSelect picker;
    QCOMPARE(picker.windowTitle(), QStringLiteral("Seleziona Cartella"));
    QCOMPARE(picker.size(), QSize(529, 377));
    QCOMPARE(picker.minimumSize(), picker.maximumSize());
    QCOMPARE(picker.windowType(), Qt::Tool);
    QVERIFY(!(picker.windowFlags() & Qt::WindowMinimizeButtonHint));
    QVERIFY(!(picker.windowFlags() & Qt::WindowMaximizeButtonHint));
    auto* ok = picker.findChild<QWidget*>(QStringLiteral("cmdOk"));
    QVERIFY(ok->font().bold());
    QCOMPARE(ok->font().pointSizeF(), 12.0);
    auto* heading = picker.findChild<QLabel*>(QStringLiteral("Label1"));
    QCOMPARE(heading->palette().color(QPalette::WindowText), QColor(0, 0, 192));
    QCOMPARE(heading->font().pointSizeF(), 13.5);
    auto* important = picker.findChild<QLabel*>(QStringLiteral("Label2"));
    QCOMPARE(important->palette().color(QPalette::WindowText), QColor(255, 0, 0));
    QVERIFY(important->font().bold());
}

void FolderSelectTest::startsAtTheRoot()
{
    frmFolderSelect picker;
    QCOMPARE(picker.findChild<QLineEdit*>(QStringLiteral("Text1"))->text(), rootText());
    QCOMPARE(picker.currentFolder(), rootText());
    QCOMPARE(picker.findChild<QComboBox*>(QStringLiteral("Drive"))->currentText().toUpper(),
             rootText().toUpper());
    QVERIFY(picker.pickedFolder().isEmpty());
}

void FolderSelectTest::folderListFillsText1()
{
    QTemporaryDir dir;
    frmFolderSelect picker;
    auto* folders = picker.findChild<QTreeView*>(QStringLiteral("Folders"));
    auto* model = qobject_cast<QFileSystemModel*>(folders->model());
    QVERIFY(model);
    folders->setCurrentIndex(model->index(dir.path()));
    QCOMPARE(picker.findChild<QLineEdit*>(QStringLiteral("Text1"))->text(),
             QDir::toNativeSeparators(dir.path()));
}

void FolderSelectTest::okHandsBackText1Unchanged()
{
    frmFolderSelect picker;
    QSignalSpy picked(&picker, &frmFolderSelect::folderPicked);
    const QString typed = QStringLiteral("  /opt/mirkel/ ");
    picker.findChild<QLineEdit*>(QStringLiteral("Text1"))->setText(typed);
    QTest::mouseClick(picker.findChild<QAbstractButton*>(QStringLiteral("cmdOk")), Qt::LeftButton);
    QCOMPARE(picker.pickedFolder(), typed);
    QCOMPARE(picked.count(), 1);
    QCOMPARE(picked[0][0].toString(), typed);
    QCOMPARE(picker.result(), int(QDialog::Accepted));
}

void FolderSelectTest::esciGivesUp()
{
    frmFolderSelect picker;
    picker.show();
    QTest::mouseClick(picker.findChild<QAbstractButton*>(QStringLiteral("cmdEsci")),
                      Qt::LeftButton);
    QCOMPARE(picker.pickedFolder(), QStringLiteral("xxx"));
    QVERIFY(!picker.isVisible());
}

void FolderSelectTest::closeBoxHandsBackNothing()
{
    frmFolderSelect picker;
    QSignalSpy picked(&picker, &frmFolderSelect::folderPicked);
    picker.show();
    QVERIFY(QTest::qWaitForWindowExposed(&picker));
    picker.windowHandle()->close();
    QVERIFY(!picker.isVisible());
    QVERIFY(picker.pickedFolder().isEmpty());
    QCOMPARE(picked.count(), 0);
}

void FolderSelectTest::driveNotReadyKeepsThePreviousDrive()
{
    QTemporaryDir dir;
    frmFolderSelect picker;
    auto* drives = picker.findChild<QComboBox*>(QStringLiteral("Drive"));
    auto* text = picker.findChild<QLineEdit*>(QStringLiteral("Text1"));
    const int before = drives->currentIndex();

    // An empty removable drive: it is listed but cannot be read.
    drives->addItem(QStringLiteral("Z:\\"), dir.filePath(QStringLiteral("assente/")));
    drives->setCurrentIndex(drives->count() - 1);
    picker.Drive_Change();
    QCOMPARE(drives->currentIndex(), before);
    QCOMPARE(text->text(), rootText());

    // A drive that is ready is moved to.
    drives->addItem(QStringLiteral("Y:\\"), dir.path());
    drives->setCurrentIndex(drives->count() - 1);
    picker.Drive_Change();
    QCOMPARE(drives->currentIndex(), drives->count() - 1);
    QCOMPARE(text->text(), QDir::toNativeSeparators(dir.path()));
}

void FolderSelectTest::pickFolderShowsThePickerModally()
{
    QtDialogs dialogs;
    bool wasPicker = false;
    whenModal([&wasPicker](QWidget* modal) {
        wasPicker = qobject_cast<frmFolderSelect*>(modal) != nullptr;
        modal->findChild<QLineEdit*>(QStringLiteral("Text1"))->setText(QStringLiteral("/srv/"));
        modal->findChild<QAbstractButton*>(QStringLiteral("cmdOk"))->click();
    });
    QCOMPARE(dialogs.pickFolder(), QStringLiteral("/srv/"));
    QVERIFY(wasPicker);

    // Each showing starts afresh.
    whenModal([](QWidget* modal) {
        QCOMPARE(modal->findChild<QLineEdit*>(QStringLiteral("Text1"))->text(), rootText());
        modal->findChild<QAbstractButton*>(QStringLiteral("cmdEsci"))->click();
    });
    QCOMPARE(dialogs.pickFolder(), QStringLiteral("xxx"));
}

void FolderSelectTest::messageBoxes_data()
{
    QTest::addColumn<int>("icon");
    QTest::addColumn<QString>("title");
    QTest::addColumn<bool>("yesNo");
    QTest::addColumn<int>("expectedIcon");
    QTest::addColumn<QString>("expectedTitle");
    QTest::addColumn<int>("answer");

    QTest::newRow("no icon, default title")
        << int(MsgIcon::None) << QString() << false << int(QMessageBox::NoIcon)
        << "ConvertiCodiceTestata" << int(MsgAnswer::Ok);
    QTest::newRow("information with title")
        << int(MsgIcon::Information) << "OPZIONI" << false << int(QMessageBox::Information)
        << "OPZIONI" << int(MsgAnswer::Ok);
    QTest::newRow("exclamation is a warning")
        << int(MsgIcon::Exclamation) << "OPZIONI" << false << int(QMessageBox::Warning) << "OPZIONI"
        << int(MsgAnswer::Ok);
    QTest::newRow("critical") << int(MsgIcon::Critical) << QString() << false
                              << int(QMessageBox::Critical) << "ConvertiCodiceTestata"
                              << int(MsgAnswer::Ok);
    QTest::newRow("question answered yes")
        << int(MsgIcon::Question) << "Domanda" << true << int(QMessageBox::Question) << "Domanda"
        << int(MsgAnswer::Yes);
    QTest::newRow("question answered no")
        << int(MsgIcon::Question) << "Domanda" << true << int(QMessageBox::Question) << "Domanda"
        << int(MsgAnswer::No);
}

void FolderSelectTest::messageBoxes()
{
    QFETCH(int, icon);
    QFETCH(QString, title);
    QFETCH(bool, yesNo);
    QFETCH(int, expectedIcon);
    QFETCH(QString, expectedTitle);
    QFETCH(int, answer);

    QtDialogs dialogs;
    QString seenTitle;
    QString seenText;
    int seenIcon = -1;
    QMessageBox::StandardButtons seenButtons;
    whenModal([&, answer](QWidget* modal) {
        auto* box = qobject_cast<QMessageBox*>(modal);
        if (!box)
            return;
        seenTitle = box->windowTitle();
        seenText = box->text();
        seenIcon = box->icon();
        seenButtons = box->standardButtons();
        box->button(answer == int(MsgAnswer::No)    ? QMessageBox::No
                    : answer == int(MsgAnswer::Yes) ? QMessageBox::Yes
                                                    : QMessageBox::Ok)
            ->click();
    });
    const MsgAnswer got = dialogs.message(QStringLiteral("<b>testo</b> "), MsgIcon(icon), title,
                                          yesNo ? MsgButtons::YesNo : MsgButtons::Ok);
    QCOMPARE(int(got), answer);
    QCOMPARE(seenTitle, expectedTitle);
    QCOMPARE(seenIcon, expectedIcon);
    QCOMPARE(seenText, QStringLiteral("<b>testo</b> "));
    QCOMPARE(seenButtons, yesNo ? QMessageBox::Yes | QMessageBox::No
                                : QMessageBox::StandardButtons(QMessageBox::Ok));
}

QTEST_MAIN(FolderSelectTest)
#include "FolderSelectTest.moc"
