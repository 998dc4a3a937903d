#include "views/KeptKeys.h"

#include <QKeyEvent>

namespace {

struct KeyBinding {
    QKeyCombination key;
    KeptKey role;
};

constexpr KeyBinding kKeyBindings[] = {
    {QKeyCombination(Qt::ControlModifier, Qt::Key_C), KeptKey::Copy},
    {QKeyCombination(Qt::ControlModifier, Qt::Key_Insert), KeptKey::Copy},
    {QKeyCombination(Qt::ControlModifier, Qt::Key_A), KeptKey::SelectAll},
    {QKeyCombination(Qt::ControlModifier, Qt::Key_X), KeptKey::Ignore},
    {QKeyCombination(Qt::ShiftModifier, Qt::Key_Delete), KeptKey::Ignore},
};

}  // namespace

std::optional<KeptKey> KeptShortcut(const QKeyEvent* event) {
    const QKeyCombination key(event->modifiers() & ~Qt::KeypadModifier, Qt::Key(event->key()));
    for (const KeyBinding& binding : kKeyBindings)
        if (binding.key == key)
            return binding.role;
    return std::nullopt;
}
