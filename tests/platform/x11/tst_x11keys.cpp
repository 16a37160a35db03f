#include "platform/x11/X11Keys.h"
#include "shortcuts/KeyCodes.h"

#include <QTest>

using namespace quill;

// Every key a shortcut can be stored with must be grabbable and postable on X.
class TestX11Keys : public QObject {
    Q_OBJECT
private slots:
    void everyStorableKeyHasAKeysym();
    void keysymsAreTheUnshiftedOnes();
    void modifiersMapToTheCoreMasks();
};

void TestX11Keys::everyStorableKeyHasAKeysym() {
    for (uint32_t code = 0; code < 130; ++code) {
        if (const auto info = keyCodeInfo(code))
            QVERIFY2(x11::keysymForKey(info->qtKey) != 0, qPrintable(keyName(code)));
    }
    QCOMPARE(x11::keysymForKey(Qt::Key_unknown), 0u);
}

void TestX11Keys::keysymsAreTheUnshiftedOnes() {
    QCOMPARE(x11::keysymForKey(Qt::Key_A), 0x61u);
    QCOMPARE(x11::keysymForKey(Qt::Key_Z), 0x7au);
    QCOMPARE(x11::keysymForKey(Qt::Key_1), 0x31u);
    QCOMPARE(x11::keysymForKey(Qt::Key_QuoteLeft), 0x60u);
    QCOMPARE(x11::keysymForKey(Qt::Key_F5), 0xffc2u);
    QCOMPARE(x11::keysymForKey(Qt::Key_Escape), 0xff1bu);
    QCOMPARE(x11::keysymForKey(Qt::Key_Insert), 0xff63u);
}

void TestX11Keys::modifiersMapToTheCoreMasks() {
    QCOMPARE(x11::modifierMaskFor(Qt::ControlModifier), x11::modifierMask::control);
    QCOMPARE(x11::modifierMaskFor(Qt::AltModifier | Qt::ShiftModifier | Qt::MetaModifier),
             uint16_t(x11::modifierMask::mod1 | x11::modifierMask::shift | x11::modifierMask::mod4));
    QCOMPARE(x11::modifierMaskFor(Qt::KeypadModifier), uint16_t(0));
}

QTEST_MAIN(TestX11Keys)
#include "tst_x11keys.moc"
