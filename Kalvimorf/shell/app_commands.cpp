#include "shell/app_commands.h"

namespace AppCommands {

Actions& shared()
{
    static Actions actions;
    return actions;
}

}
