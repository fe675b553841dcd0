#include "FerlowTray/ShortcutRecorder.h"

#include <QApplication>
#include <QKeyEvent>

#include "FerlowTray/ViewStyle.h"
#include "FerlowInput/SystemShortcut.h"
#include "FerlowLinux/KeyProfile.h"

namespace ferlow {

namespace {

const QString pressShortcut = QStringLiteral("Press a shortcut\u2026");
const QString recorderHelp = QStringLiteral("Click, then press the keys this button should send");

// Keys that only modify another one; recording waits past them.
bool isModifierKey(int key)
{
    switch (key) {
    case Qt::Key_Shift:
    case Qt::Key_Control:
    case Qt::Key_Meta:
    case Qt::Key_Alt:
    case Qt::Key_AltGr:
    case Qt::Key_CapsLock:
    case Qt::Key_NumLock:
    case Qt::Key_ScrollLock:
    case Qt::Key_Super_L:
    case Qt::Key_Super_R:
    case Qt::Key_Hyper_L:
    case Qt::Key_Hyper_R:
    case Qt::Key_Mode_switch:
        return true;
    default:
        return false;
    }
}

} // namespace

ShortcutRecorder::Translate ShortcutRecorder::throughProfile(const KeyProfile& profile)
{
    return [profile = std::make_shared<const KeyProfile>(profile)](const QKeyEvent& event) -> std::optional<Chord> {
        // XKB numbers keys from 8 above the kernel's codes.
        constexpr quint32 xkbOffset = 8;
        const quint32 keycode = event.nativeScanCode();
        if (keycode < xkbOffset || keycode - xkbOffset > 0xFFFF)
            return std::nullopt;
        LinuxChord pressed;
        pressed.key = static_cast<std::uint16_t>(keycode - xkbOffset);
        const auto held = event.modifiers();
        // Caps Lock, Num Lock and the keypad flag are not part of a shortcut.
        if (held & Qt::ControlModifier)
            pressed.modifiers |= LinuxChord::ctrl;
        if (held & Qt::AltModifier)
            pressed.modifiers |= LinuxChord::alt;
        if (held & Qt::ShiftModifier)
            pressed.modifiers |= LinuxChord::shift;
        if (held & Qt::MetaModifier)
            pressed.modifiers |= LinuxChord::super;
        const auto chords = profile->macChords(pressed);
        if (chords.empty())
            return std::nullopt;
        return Chord {chords.front().code, chords.front().modifiers};
    };
}

ShortcutRecorder::ShortcutRecorder(Translate translate, QWidget* parent)
    : QPushButton(parent), m_translate(std::move(translate))
{
    setToolTip(recorderHelp);
    setMinimumWidth(110);
    ViewStyle::setTextStyle(this, ViewStyle::Text::body);
    connect(this, &QPushButton::clicked, this, [this] {
        if (m_recording)
            stopRecording();
        else
            startRecording();
    });
    showShortcut();
}

ShortcutRecorder::~ShortcutRecorder() { stopRecording(); }

void ShortcutRecorder::setShortcut(const QString& text)
{
    m_shortcut = text;
    showShortcut();
}

void ShortcutRecorder::showShortcut() { setText(m_recording ? pressShortcut : m_shortcut); }

void ShortcutRecorder::startRecording()
{
    m_recording = true;
    qApp->installEventFilter(this);
    showShortcut();
}

void ShortcutRecorder::stopRecording()
{
    if (!m_recording)
        return;
    qApp->removeEventFilter(this);
    m_recording = false;
    showShortcut();
}

bool ShortcutRecorder::eventFilter(QObject* watched, QEvent* event)
{
    // Claiming the shortcut first keeps window and menu shortcuts (Ctrl+W,
    // Ctrl+Q) from acting on the keys being recorded.
    if (event->type() == QEvent::ShortcutOverride) {
        event->accept();
        return true;
    }
    if (event->type() != QEvent::KeyPress)
        return QPushButton::eventFilter(watched, event);
    const auto* press = static_cast<QKeyEvent*>(event);
    if (isModifierKey(press->key()))
        return true;
    const auto chord = m_translate ? m_translate(*press) : std::nullopt;
    stopRecording();
    if (chord && onRecord)
        onRecord({chord->code, chord->modifiers & SystemShortcut::modifierMask});
    return true;
}

} // namespace ferlow
