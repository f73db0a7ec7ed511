// Fault injection for the list's allocations.  Only tests call this; the
// program never does.

#ifndef LISTING_DISPLAY_NAME_LIST_TESTING_H_
#define LISTING_DISPLAY_NAME_LIST_TESTING_H_

// Lets the next `successes` allocations made by DisplayNameList::Add succeed
// and fails every one after them.  A negative count lets all succeed again.
void FailDisplayNameAllocationsAfter(long successes);

#endif  // LISTING_DISPLAY_NAME_LIST_TESTING_H_
