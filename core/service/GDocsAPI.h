#pragma once

// The service client in one include: session and sign-in, entry requests,
// exceptions and file helpers.
#include "FileHelpers.h"
#include "GDataRequests.h"
#include "ServiceClient.h"
#include "ServiceExceptions.h"
#include "SignIn.h"
