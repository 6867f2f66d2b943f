#include "LinkStart.h"

#include <QCheckBox>
#include <QLineEdit>

#include "IrcLink.h"
#include "Main.h"
#include "Session.h"

namespace zorv {

void OpenLink(TMainForm& form, const std::string& link) {
  const IrcLinkParse parsed = ParseIrcLink(link);
  if (!parsed.ok) {
    form.AddText("Server", "*** Cannot open the link: " + parsed.error, true);
    return;
  }
  const IrcLink& l = parsed.link;
  form.EditServer->setText(QString::fromLatin1(l.host));
  form.EditPort->setText(QString::fromLatin1(l.port));
  form.CheckTLS->setChecked(l.secure);
  form.session->JoinWhenRegistered(l.host, l.port, l.channels);
  form.BtnConnectClick();
}

}  // namespace zorv
