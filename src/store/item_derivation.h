// What Outlook's object model fills in when an item of each kind is saved: the values a
// new item has by default and the ones computed from others (a contact's file-as and
// display names, an appointment's duration). Only what is still missing is set.
#pragma once

#include "pst/messaging/message.h"
#include "store/mail_store.h"

namespace mailvane::store {

void DeriveOnSave(ItemType type, pst::messaging::MessageContent& content);

}  // namespace mailvane::store
