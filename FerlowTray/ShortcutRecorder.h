#pragma once

#include <QPushButton>
#include <cstdint>
#include <functional>
#include <optional>

class QKeyEvent;

namespace ferlow {

class KeyProfile;

// A button that shows a shortcut and, once clicked, records the next key
// pressed anywhere in the app as the shortcut's new value. Clicking it again
// while it waits stops without recording.
class ShortcutRecorder final : public QPushButton {
public:
    // A key as buttons store it: a macOS virtual key code and modifier bits.
    struct Chord {
        std::uint16_t code = 0;
        std::uint64_t modifiers = 0;
        bool operator==(const Chord&) const = default;
    };
    // The chord a key press stands for; absent for a key that no macOS key
    // matches.
    using Translate = std::function<std::optional<Chord>(const QKeyEvent& event)>;

    // A Linux key press as the macOS chord the profile turns into that
    // press (Ctrl+V is ⌘V under the default profile), so a recorded
    // shortcut means the same on every computer. Keys are read by their
    // place on the keyboard (the X keycode, evdev + 8), not by the letter
    // the layout gives them.
    static Translate throughProfile(const KeyProfile& profile);

    ShortcutRecorder(Translate translate, QWidget* parent = nullptr);
    ~ShortcutRecorder() override;

    // What the button shows while it is not recording: the shortcut as this
    // desktop writes it.
    void setShortcut(const QString& text);
    bool isRecording() const { return m_recording; }

    // A recorded chord, with only the Shift, Control, Option and Command bits.
    std::function<void(Chord)> onRecord;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void startRecording();
    void stopRecording();
    void showShortcut();

    Translate m_translate;
    QString m_shortcut;
    bool m_recording = false;
};

} // namespace ferlow
