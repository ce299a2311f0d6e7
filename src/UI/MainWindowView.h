#pragma once

#include "UI/CastingView.h"
#include "UI/ConnectionView.h"
#include "UI/ExtendTileView.h"
#include "UI/FileOfferView.h"
#include "UI/FileWindowView.h"
#include "UI/RoziTipView.h"
#include "UI/SendersView.h"
#include "UI/ToastPresenter.h"
#include "UI/WindowCastView.h"
#include "UI/ViewingView.h"

// Everything MainWindowController shows: the Qt main window implements it, tests record it. Every call
// comes on the main thread.
class MainWindowView : public ToastPresenter,
                       public ConnectionView,
                       public SendersView,
                       public CastingView,
                       public FileWindowView,
                       public FileOfferView,
                       public ExtendTileView,
                       public WindowCastView,
                       public ViewingView,
                       public RoziTipView {};
