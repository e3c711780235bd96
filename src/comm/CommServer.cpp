#include "comm/CommServer.h"
