#include "AppProcess.h"
#include "StatusNotifierHost.h"

#include <QSignalSpy>
#include <QTest>

using namespace quill::test;

// The real program started in a German session shows its tray menu in German.
class TestTranslationsDesktop : public QObject {
    Q_OBJECT
private slots:
    void followsTheSessionLanguage();

private:
    StatusNotifierHost host;
};

void TestTranslationsDesktop::followsTheSessionLanguage() {
    QVERIFY(host.start());
    QSignalSpy registered(&host, &StatusNotifierHost::StatusNotifierItemRegistered);
    AppProcess app;
    app.start({QStringLiteral("LANGUAGE=de"), QStringLiteral("LANG=C.UTF-8")});
    QTRY_COMPARE_WITH_TIMEOUT(registered.size(), 1, 10000);
    const QString item = registered.at(0).at(0).toString();
    QStringList labels;
    QTRY_VERIFY_WITH_TIMEOUT(
        [&] {
            labels.clear();
            for (const auto& entry : StatusNotifierHost::menuItems(item))
                labels << entry.label;
            return labels.contains(QStringLiteral("Quillpoint beenden"));
        }(),
        10000);
    for (const char* german : {"Erklärmodus", "Diktiermodus", "Einstellungen …"})
        QVERIFY2(labels.contains(QString::fromUtf8(german)), qPrintable(labels.join(u'|')));
}

QTEST_GUILESS_MAIN(TestTranslationsDesktop)
#include "tst_translations_desktop.moc"
