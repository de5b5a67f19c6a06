#include "app/message_box.h"

#include "app/control_ids.h"
#include "config/paths.h"

namespace msgbox {

Request WindowQuestion(const std::string& text, Buttons buttons) {
    return {ids::kProductName, text, buttons, Icon::None};
}

Request AppMessage(const std::string& text) {
    return {g_paths.exeBase, text, Buttons::Ok, Icon::Exclamation};
}

}  // namespace msgbox
