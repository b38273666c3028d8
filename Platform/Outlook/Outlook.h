#pragma once
// The mail-store object model that the product drives: Application,
// NameSpace, folders, items (contact, mail and message items), user
// properties, attachments and recipients. Data members work in every process
// against one SQLite store; window members go to the installed window side
// (WindowSide.h). Objects are handles: copies share the object, a
// default-constructed handle is Nothing. Every call records its outcome in
// Err() (OlError.h); members are named as the callers use them.
#include "Platform/Outlook/OlError.h"
#include "Platform/Outlook/OlTypes.h"

#include "Platform/Outlook/Application.h"
#include "Platform/Outlook/Attachment.h"
#include "Platform/Outlook/Folders.h"
#include "Platform/Outlook/FormRegistry.h"
#include "Platform/Outlook/Item.h"
#include "Platform/Outlook/Items.h"
#include "Platform/Outlook/MAPIFolder.h"
#include "Platform/Outlook/NameSpace.h"
#include "Platform/Outlook/Recipient.h"
#include "Platform/Outlook/UserProperty.h"
