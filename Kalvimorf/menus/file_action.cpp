#include "menus/file_action.h"

namespace FileActions {

const std::vector<FileAction>& all()
{
    static const std::vector<FileAction> actions = {FileAction::openWith, FileAction::zip,     FileAction::move,
                                                    FileAction::copy,     FileAction::airdrop, FileAction::copyPath,
                                                    FileAction::reveal,   FileAction::terminal};
    return actions;
}

std::string label(FileAction action)
{
    switch (action) {
    case FileAction::openWith: return "ABRIR COM…";
    case FileAction::zip: return "ZIPAR";
    case FileAction::move: return "MOVER PARA…";
    case FileAction::copy: return "COPIAR";
    case FileAction::airdrop: return "AIRDROP";
    case FileAction::copyPath: return "CAMINHO";
    case FileAction::reveal: return "NO FINDER";
    case FileAction::terminal: return "TERMINAL";
    }
    return {};
}

std::string detail(FileAction action)
{
    switch (action) {
    case FileAction::openWith: return "Abrir com outro app";
    case FileAction::zip: return "Compactar em .zip";
    case FileAction::move: return "Mover para outra pasta";
    case FileAction::copy: return "Copiar para colar no Finder";
    case FileAction::airdrop: return "Enviar por AirDrop";
    case FileAction::copyPath: return "Copiar o caminho";
    case FileAction::reveal: return "Mostrar no Finder";
    case FileAction::terminal: return "Abrir a pasta no Terminal";
    }
    return {};
}

void perform(FileAction, const std::vector<std::filesystem::path>&)
{
}

}
