// Another program on the test desktop's clipboard: `own FORMAT=FILE...` takes the clipboard with
// those formats and keeps serving them until it is terminated; `hang FORMAT=FILE...` takes it the
// same way and then never answers a request (a program stuck in a long computation); `dump`
// prints every format the clipboard offers as "FORMAT<TAB>HEX BYTES", one a line; `copier MS TEXT`
// shows a window titled "Slow copier" that answers each Ctrl+C MS milliseconds late by taking the
// clipboard with TEXT (an application busy when asked to copy), printing "copy" for each.
#include <QClipboard>
#include <QFile>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMimeData>
#include <QRasterWindow>
#include <QTextStream>
#include <QTimer>
#include <unistd.h>

namespace {

class SlowCopier : public QRasterWindow {
public:
    SlowCopier(int delayMs, QString text) : m_delayMs(delayMs), m_text(std::move(text)) {
        setTitle(QStringLiteral("Slow copier"));
        resize(300, 200);
    }

protected:
    void keyPressEvent(QKeyEvent* event) override {
        if (event->key() != Qt::Key_C || event->modifiers() != Qt::ControlModifier)
            return;
        QTextStream(stdout) << "copy" << Qt::endl;
        QTimer::singleShot(m_delayMs, this, [this] { QGuiApplication::clipboard()->setText(m_text); });
    }

private:
    int m_delayMs;
    QString m_text;
};

} // namespace

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    const QStringList args = app.arguments().mid(1);
    QTextStream out(stdout);
    const bool hang = args.value(0) == QLatin1String("hang");
    if (args.value(0) == QLatin1String("own") || hang) {
        auto data = std::make_unique<QMimeData>();
        for (const QString& pair : args.mid(1)) {
            const qsizetype eq = pair.indexOf(QLatin1Char('='));
            QFile file(pair.mid(eq + 1));
            if (eq < 0 || !file.open(QIODevice::ReadOnly))
                return 2;
            data->setData(pair.left(eq), file.readAll());
        }
        QGuiApplication::clipboard()->setMimeData(data.release());
        out << "owned" << Qt::endl;
        if (hang) {
            for (;;)
                pause();
        }
        return app.exec();
    }
    if (args.value(0) == QLatin1String("copier") && args.size() == 3) {
        SlowCopier window(args.at(1).toInt(), args.at(2));
        window.show();
        return app.exec();
    }
    if (args.value(0) == QLatin1String("dump")) {
        const QMimeData* data = QGuiApplication::clipboard()->mimeData();
        for (const QString& format : data ? data->formats() : QStringList())
            out << format << '\t' << data->data(format).toHex() << Qt::endl;
        return 0;
    }
    return 2;
}
