package com.ulvex.kesp.tavik.common.win32;

/**
 * Raised by the native registry operations of {@link Registry}. The message is one of the
 * library's fixed texts or, for a failed text write, the system's text for the Windows error,
 * whole in every language.
 *
 * <p>It is a checked exception: every {@code Registry} method that can raise it declares it.
 */
public class RegistryException extends Exception {
    private static final long serialVersionUID = 1L;

    public RegistryException(String message) {
        super(message);
    }
}
