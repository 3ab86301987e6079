#pragma once
// The password dialog that guards closing the agent. It is built here, laid
// out in dialog units of its font (GeometriaSenha), shown modally and
// destroyed before returning. Not an error: a wrong password, which shows
// "Senha Incorreta!!!" and returns false; closing the dialog any other way
// returns false silently.
#include "app/shell/janela.h"

#include <QFont>
#include <QPoint>
#include <QString>

#include <optional>

namespace ondaris::app {

// Average character width ("A".."Z" "a".."z" measured as one string / 52,
// rounded toward zero) and the height of `fonte`.
QPoint GetAveCharSize(const QFont& fonte);

// The dialog alone: the text typed when the user confirmed, nothing when
// the dialog was closed any other way. `Value` is the initial text of the
// field and is not changed.
std::optional<QString> PedirSenhaTavixSystem(const QString& ACaption, const QString& APrompt,
                                             const QString& Value);

// True only when the user confirmed with the closing password
// (shell::SenhaAceita); a wrong one shows the message.
bool SenhaTavixSystem(const QString& ACaption, const QString& APrompt, const QString& Value);

inline constexpr const char* TextoSenhaIncorreta = shell::TextoSenhaIncorreta;

}  // namespace ondaris::app
