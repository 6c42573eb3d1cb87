/* pagetable.h -- the wizard's pages in the order it shows them: each
 * page's flag in the package, its dialog template, the text that heads it
 * and the name the authoring tool and the tests call it by.  The setup
 * program, velkor and the robot all read this one table. */
#pragma once

#include "format.h"
#include "resource.h"

#define PAGE_COUNT 6

typedef struct PageTemplate {
    int Flag;           /* PageWelcome ... PageReady */
    int Template;       /* IDD_WELCOME ... IDD_READY */
    int Title;          /* the package text of its heading */
    const char *Name;
} PageTemplate;

static const PageTemplate PageTemplates[PAGE_COUNT] = {
    {PageWelcome, IDD_WELCOME, TextWelcomeTitle, "welcome"},
    {PageAgreement, IDD_AGREEMENT, TextAgreementTitle, "agreement"},
    {PageComponents, IDD_COMPONENTS, TextComponentsTitle, "components"},
    {PageLocation, IDD_LOCATION, TextLocationTitle, "location"},
    {PageDestination, IDD_DESTINATION, TextDestinationTitle, "destination"},
    {PageReady, IDD_READY, TextReadyTitle, "ready"},
};

/* The page's slot in PageTemplates, or -1 for a flag that names no page. */
static inline int PageSlot(int flag)
{
    for (int slot = 0; slot < PAGE_COUNT; ++slot)
        if (PageTemplates[slot].Flag == flag)
            return slot;
    return -1;
}

/* The dialog template of the page with this flag, or 0. */
static inline int PageTemplateOf(int flag)
{
    int slot = PageSlot(flag);
    return slot < 0 ? 0 : PageTemplates[slot].Template;
}
