// Runs event handlers so that an exception leaving one is shown in the error box and the
// program goes on; nothing is rolled back.
#pragma once

#include "Dialogs.h"

#include <QObject>

#include <exception>
#include <utility>

// The error box text: the message, with a full stop added unless it already ends in
// punctuation at or below '.'.
QString ErrorBoxText(const char* message);

void ShowException(const std::exception& error);

template <class Handler>
void Guarded(Handler&& handler) noexcept
{
    try {
        std::forward<Handler>(handler)();
    } catch (const std::exception& error) {
        ShowException(error);
    }
}

// Connects a signal to a form's handler, run inside the guard.
template <class Sender, class Signal, class Form>
void ConnectHandler(Sender* sender, Signal signal, Form* form, void (Form::*handler)())
{
    QObject::connect(sender, signal, form, [form, handler] { Guarded([&] { (form->*handler)(); }); });
}
