#include "app/ProcessProtection.h"

#include <sys/resource.h>
#include <sys/stat.h>

namespace pw::app {

void ProtectProcess() {
    ::umask(077);
    const rlimit none{0, 0};
    (void)::setrlimit(RLIMIT_CORE, &none);
}

}  // namespace pw::app
