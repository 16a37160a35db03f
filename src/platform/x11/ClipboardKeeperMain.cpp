// quillpoint-clipboard-keeper FILE: keeps the clipboard contents Quillpoint held when it quit,
// where no clipboard manager takes them over, and serves them until another program copies,
// as xclip does. FILE holds the formats (QDataStream of QList<QPair<QString, QByteArray>>);
// it is read and removed at once.
#include <QClipboard>
#include <QDataStream>
#include <QFile>
#include <QGuiApplication>
#include <QMimeData>

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "xcb");
    const QGuiApplication app(argc, argv);
    if (argc != 2)
        return 2;
    QFile file(QString::fromLocal8Bit(argv[1]));
    if (!file.open(QIODevice::ReadOnly))
        return 1;
    QList<QPair<QString, QByteArray>> formats;
    QDataStream in(&file);
    in >> formats;
    file.remove();
    if (in.status() != QDataStream::Ok || formats.isEmpty())
        return 1;

    auto data = std::make_unique<QMimeData>();
    for (const auto& [format, bytes] : std::as_const(formats))
        data->setData(format, bytes);
    QClipboard* clipboard = QGuiApplication::clipboard();
    clipboard->setMimeData(data.release());
    if (!clipboard->ownsClipboard())
        return 1;
    QObject::connect(clipboard, &QClipboard::dataChanged, &app, [clipboard] {
        if (!clipboard->ownsClipboard())
            QCoreApplication::quit();
    });
    return QGuiApplication::exec();
}
