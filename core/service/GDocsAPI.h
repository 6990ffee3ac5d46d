#pragma once

// The service client in one include: session and sign-in, entry requests,
// uploads, downloads, sharing and quota, exceptions and file helpers.
#include "Download.h"
#include "FileHelpers.h"
#include "GDataRequests.h"
#include "ServiceClient.h"
#include "ServiceExceptions.h"
#include "Sharing.h"
#include "SignIn.h"
#include "TransferProgress.h"
#include "Upload.h"
