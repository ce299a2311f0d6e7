#pragma once

#include "Session/CastingView.h"
#include "Session/ConnectionView.h"
#include "Session/ExtendTileView.h"
#include "Session/FileOfferView.h"
#include "Session/FileWindowView.h"
#include "Rozi/RoziTipView.h"
#include "Session/SendersView.h"
#include "Session/ToastPresenter.h"
#include "Session/WindowCastView.h"
#include "Session/ViewingView.h"

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
