#include "QuillpointApp.h"

int main(int argc, char** argv) {
    quill::QuillpointApp app(argc, argv);
    return app.run();
}
