// The check worker over POP3 against a private Dovecot on free ports.
namespace {
constexpr int kCheckServerType = 0;
}
#include "integration/CheckDovecotCommon.h"
