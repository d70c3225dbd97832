#include "db/RestoreScript.h"

#include <QTest>

class RestoreScriptTest : public QObject
{
    Q_OBJECT

private slots:
    void blocksHoldAtMost500RowsAStatement_data()
    {
        QTest::addColumn<db::Engine>("engine");
        QTest::addColumn<QString>("rowStart");
        QTest::newRow("SQL Server") << db::Engine::SqlServer << QStringLiteral("SELECT ");
        QTest::newRow("embedded engine") << db::Engine::Sqlite << QStringLiteral("(");
    }

    void blocksHoldAtMost500RowsAStatement()
    {
        QFETCH(db::Engine, engine);
        QFETCH(QString, rowStart);
        db::RestoreScript script(engine, QStringLiteral("MIRKEL"));
        for (int id = 0; id < 1001; ++id)
            script.productDistributor(id, 12);
        QList<int> rows;
        for (const QString& statement : script.takeBlock()) {
            if (!statement.contains(QStringLiteral("UPDATE")))
                continue;
            rows << 0;
            for (const QString& line : statement.split(QStringLiteral("\r\n")))
                rows.last() +=
                    line.startsWith(rowStart) || line.startsWith(QStringLiteral("UNION"));
        }
        QCOMPARE(rows, (QList<int>{500, 500, 1}));
    }
};

QTEST_GUILESS_MAIN(RestoreScriptTest)
#include "RestoreScriptTest.moc"
