// quillpoint-wayland-clipboard-keeper FILE: keeps the clipboard contents Quillpoint held when it
// quit, in a Wayland session with wlr data-control, and serves them until another client sets
// the clipboard. FILE is a ClipboardKeeperFile.
#include "DataControlKeeper.h"
#include "platform/ClipboardKeeperFile.h"

int main(int argc, char** argv) {
    if (argc != 2)
        return 2;
    auto formats = quill::ClipboardKeeperFile::take(QString::fromLocal8Bit(argv[1]));
    if (!formats)
        return 1;
    quill::DataControlKeeper keeper(std::move(*formats));
    if (!keeper.take())
        return 1;
    keeper.serve();
    return 0;
}
