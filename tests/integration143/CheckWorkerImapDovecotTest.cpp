// The check worker over IMAP4 against a private Dovecot. The worker always uses port 143, so
// this program binds Dovecot's IMAP listener there and runs alone (resource lock imap143).
namespace {
constexpr int kCheckServerType = 1;
}
#define CHECK_DOVECOT_SUITE ImapCheckWorkerDovecot
#include "integration/CheckDovecotCommon.h"
