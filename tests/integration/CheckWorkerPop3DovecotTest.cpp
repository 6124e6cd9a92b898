// The check worker over POP3 against a private Dovecot on free ports.
namespace {
constexpr int kCheckServerType = 0;
}
#define CHECK_DOVECOT_SUITE Pop3CheckWorkerDovecot
#include "integration/CheckDovecotCommon.h"
