#include "platform/desktop_services.h"

#include "platform/autostart_login_item.h"
#include "platform/desktop_file_viewer.h"
#include "platform/message_alert.h"
#include "platform/sound_player.h"

#include <memory>

namespace DesktopServices {

void install()
{
    Chime::Output::set(std::make_shared<SoundPlayer>());
    Alert::Presenter::set(std::make_shared<MessageAlert>());
    FileViewer::set(std::make_shared<DesktopFileViewer>());
    LoginItem::set(std::make_shared<AutostartLoginItem>());
}

}
