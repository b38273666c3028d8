#pragma once
// The mail-store object model that the product drives: Application,
// NameSpace, folders, items (contact, mail and message items), user
// properties, attachments and recipients. Data members work in every process
// against one SQLite store; window members go to the installed window side
// (WindowSide.h). Objects are handles: copies share the object, a
// default-constructed handle is Nothing. Every call records its outcome in
// Err() (OlError.h); members are named as the callers use them.
#include "OlError.h"
#include "OlTypes.h"

#include "Application.h"
#include "Attachment.h"
#include "Folders.h"
#include "FormRegistry.h"
#include "Item.h"
#include "Items.h"
#include "MAPIFolder.h"
#include "NameSpace.h"
#include "Recipient.h"
#include "UserProperty.h"
