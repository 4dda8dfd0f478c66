// Dbgparse.cs: libdbgparse 2 for C#, one file to add to a project.
//
// P/Invoke over the C interface of dbgparse.h, library name "dbgparse":
// dbgparse.dll on Windows (beside the program), libdbgparse.so.2 on Linux
// (see doc/csharp.md for how Mono and .NET find it). No unsafe code: the
// project needs no AllowUnsafeBlocks. Sizes are UIntPtr and pointers IntPtr,
// so the same file is right at 32 and at 64 bits.
//
//   byte[] table = Dbgparse.Convert(File.ReadAllBytes("names.dbg"));
//   foreach (DbgparseEntry entry in Dbgparse.Entries(table)) { ... }
//   DbgparseListing listing = Dbgparse.Listing(table);  // .Text, .LeftOut
//
// Every call is complete before it returns and keeps nothing: any number
// may run at once on any threads.
using System;
using System.Collections.Generic;
using System.IO;
using System.Runtime.ExceptionServices;
using System.Runtime.InteropServices;

namespace DbgparseLibrary
{
    /// <summary>One entry of a QB table.</summary>
    public sealed class DbgparseEntry
    {
        /// <summary>The 32-bit value.</summary>
        public uint Checksum { get; }
        /// <summary>The name's bytes, up to its first zero byte.</summary>
        public byte[] Name { get; }
        /// <summary>Zero bytes after the name, before the next marker.</summary>
        public long Padding { get; }
        /// <summary>The offset of the entry's marker in the table.</summary>
        public long Offset { get; }

        public DbgparseEntry(uint checksum, byte[] name, long padding, long offset)
        {
            Checksum = checksum;
            Name = name;
            Padding = padding;
            Offset = offset;
        }
    }

    /// <summary>What a warning is about (DBGPARSE_WARNING_*).</summary>
    public enum DbgparseWarningKind
    {
        NoSection = 1,
        ValueField = 2,
        InnerLine = 3,
        EmptyName = 4,
        NoLineEnd = 5,
        NameCut = 6,
        NameZeroByte = 7,
        NameEndBlank = 8,
        NotConverted = 9,
        LeftOut = 10,
        Malformed = 11,
        NameUnexpected = 12,
    }

    /// <summary>One warning about a DBG file: the conversion did what it
    /// always does, but the input looks as if its author meant something
    /// else.</summary>
    public sealed class DbgparseWarning
    {
        public DbgparseWarningKind Kind { get; }
        /// <summary>1-based; 0 when it is about the input as a whole.</summary>
        public long Line { get; }
        /// <summary>Of the byte the warning is about, in the input.</summary>
        public long Offset { get; }
        /// <summary>One English sentence: what the conversion did there.</summary>
        public string Message { get; }

        public DbgparseWarning(DbgparseWarningKind kind, long line, long offset, string message)
        {
            Kind = kind;
            Line = line;
            Offset = offset;
            Message = message;
        }
    }

    /// <summary>An entry of a table that no listing line can make, which
    /// the listing leaves out: as <c>qbdump</c> tells it, "entry N at byte
    /// OFFSET left out: MESSAGE".</summary>
    public sealed class DbgparseLeftOut
    {
        /// <summary>The entry's number in the table, from 1.</summary>
        public long Entry { get; }
        /// <summary>The offset of its marker in the table.</summary>
        public long Offset { get; }
        /// <summary>Why no line can make it.</summary>
        public string Message { get; }

        public DbgparseLeftOut(long entry, long offset, string message)
        {
            Entry = entry;
            Offset = offset;
            Message = message;
        }
    }

    /// <summary>A table listed as DBG text, as <c>qbdump TABLE</c> writes
    /// it, and the entries the listing leaves out.</summary>
    public sealed class DbgparseListing
    {
        /// <summary>The DBG text: converted, it gives the table again when
        /// no entry is left out.</summary>
        public byte[] Text { get; }
        /// <summary>The entries left out, in table order; empty when none
        /// is.</summary>
        public IReadOnlyList<DbgparseLeftOut> LeftOut { get; }

        public DbgparseListing(byte[] text, IReadOnlyList<DbgparseLeftOut> leftOut)
        {
            Text = text;
            LeftOut = leftOut;
        }
    }

    /// <summary>A QB table that breaks: where, and what was expected there,
    /// as <c>qbdump --check</c> reports them.</summary>
    public sealed class MalformedTableException : FormatException
    {
        public long Offset { get; }
        public string Reason { get; }

        public MalformedTableException(long offset, string reason)
            : base("byte " + offset + ": expected " + reason)
        {
            Offset = offset;
            Reason = reason;
        }
    }

    /// <summary>The status a call of the library failed with, for the
    /// failures that have no exception of their own.</summary>
    public sealed class DbgparseException : Exception
    {
        public int Status { get; }

        public DbgparseException(int status, string text) : base("dbgparse: " + text)
        {
            Status = status;
        }
    }

    public static class Dbgparse
    {
        private const string Library = "dbgparse";

        private const int Ok = 0;
        private const int End = 1;
        private const int ErrorNoMemory = -2;
        private const int ErrorTooSmall = -4;
        private const int ErrorMalformed = -5;
        private const int WarningLeftOut = 10;
        private const int WarningMalformed = 11;

        [StructLayout(LayoutKind.Sequential)]
        private struct NativeEntry
        {
            public uint Checksum;
            public IntPtr Name;
            public UIntPtr NameLength;
            public UIntPtr Padding;
            public UIntPtr Offset;
        }

        [StructLayout(LayoutKind.Sequential)]
        private struct NativeWarning
        {
            public int Kind;
            public UIntPtr Line;
            public UIntPtr Offset;
            public IntPtr Message;
        }

        [UnmanagedFunctionPointer(CallingConvention.Cdecl)]
        private delegate int WarningSink(IntPtr context, IntPtr warning);

        [UnmanagedFunctionPointer(CallingConvention.Cdecl)]
        private delegate int ByteSink(IntPtr context, IntPtr bytes, UIntPtr size);

        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        private static extern IntPtr dbgparse_version();

        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        private static extern IntPtr dbgparse_status_text(int status);

        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        private static extern int dbgparse_convert_to([In] byte[] dbg, UIntPtr size,
                                                      [Out] byte[] table, UIntPtr capacity,
                                                      out UIntPtr tableSize);

        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        private static extern int dbgparse_next_entry(IntPtr table, UIntPtr size,
                                                      ref UIntPtr offset, out NativeEntry entry,
                                                      out IntPtr reason);

        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        private static extern int dbgparse_diagnose([In] byte[] dbg, UIntPtr size,
                                                    WarningSink sink, IntPtr context);

        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        private static extern int dbgparse_list([In] byte[] table, UIntPtr size, ByteSink sink,
                                                IntPtr context, WarningSink warn, IntPtr warnContext);

        /// <summary>The loaded library's version, "MAJOR.MINOR.PATCH".</summary>
        public static string Version
        {
            get { return Marshal.PtrToStringAnsi(dbgparse_version()); }
        }

        /// <summary>The QB table of a DBG file, exactly as dbgparse makes it.
        /// Any bytes are a DBG file: without a "[Checksums]" CR LF line the
        /// table is the empty one, 00 00.</summary>
        public static byte[] Convert(byte[] dbg)
        {
            if (dbg == null)
            {
                throw new ArgumentNullException(nameof(dbg));
            }
            // Sized as dbgparse.h says (DBGPARSE_TABLE_GUESS): the input's
            // size and 4 KiB first, the table's own size when it is longer.
            byte[] table = new byte[Math.Min((long)dbg.Length + 4096, int.MaxValue)];
            UIntPtr length;
            int status = dbgparse_convert_to(dbg, (UIntPtr)dbg.Length, table,
                                             (UIntPtr)table.Length, out length);
            if (status == ErrorTooSmall)
            {
                if (length.ToUInt64() > int.MaxValue)
                {
                    throw new OutOfMemoryException("dbgparse: the table is longer than an array can be");
                }
                table = new byte[(int)length.ToUInt64()];
                status = dbgparse_convert_to(dbg, (UIntPtr)dbg.Length, table,
                                             (UIntPtr)table.Length, out length);
            }
            Check(status);
            Array.Resize(ref table, (int)length.ToUInt64());
            return table;
        }

        /// <summary>The entries of a QB table, in order. Throws
        /// MalformedTableException for a table that breaks, and returns no
        /// entry then.</summary>
        public static IReadOnlyList<DbgparseEntry> Entries(byte[] table)
        {
            if (table == null)
            {
                throw new ArgumentNullException(nameof(table));
            }
            var entries = new List<DbgparseEntry>();
            // Pinned for the whole walk: each entry's name points into it.
            GCHandle pinned = GCHandle.Alloc(table, GCHandleType.Pinned);
            try
            {
                IntPtr start = pinned.AddrOfPinnedObject();
                UIntPtr size = (UIntPtr)table.Length;
                UIntPtr offset = UIntPtr.Zero;
                while (true)
                {
                    long at = (long)offset.ToUInt64();
                    NativeEntry entry;
                    IntPtr reason;
                    int status = dbgparse_next_entry(start, size, ref offset, out entry, out reason);
                    if (status == End)
                    {
                        return entries;
                    }
                    if (status == ErrorMalformed)
                    {
                        throw new MalformedTableException((long)offset.ToUInt64(),
                                                          Marshal.PtrToStringAnsi(reason));
                    }
                    Check(status);
                    var name = new byte[(int)entry.NameLength.ToUInt64()];
                    Marshal.Copy(entry.Name, name, 0, name.Length);
                    entries.Add(new DbgparseEntry(entry.Checksum, name,
                                                  (long)entry.Padding.ToUInt64(), at));
                }
            }
            finally
            {
                pinned.Free();
            }
        }

        /// <summary>The warnings that converting the DBG file gives, in
        /// input order. The conversion does not depend on them.</summary>
        public static IReadOnlyList<DbgparseWarning> Diagnose(byte[] dbg)
        {
            if (dbg == null)
            {
                throw new ArgumentNullException(nameof(dbg));
            }
            var warnings = new List<DbgparseWarning>();
            ExceptionDispatchInfo failure = null;
            // No exception may cross the library: one is kept and the call
            // stopped, then it is thrown here.
            WarningSink sink = (context, pointer) =>
            {
                try
                {
                    var warning = (NativeWarning)Marshal.PtrToStructure(pointer, typeof(NativeWarning));
                    warnings.Add(new DbgparseWarning((DbgparseWarningKind)warning.Kind,
                                                     (long)warning.Line.ToUInt64(),
                                                     (long)warning.Offset.ToUInt64(),
                                                     Marshal.PtrToStringAnsi(warning.Message)));
                    return 0;
                }
                catch (Exception caught)
                {
                    failure = ExceptionDispatchInfo.Capture(caught);
                    return 1;
                }
            };
            int status = dbgparse_diagnose(dbg, (UIntPtr)dbg.Length, sink, IntPtr.Zero);
            GC.KeepAlive(sink);
            // Thrown again with the stack it was caught with.
            failure?.Throw();
            Check(status);
            return warnings;
        }

        /// <summary>The table listed as DBG text, as <c>qbdump TABLE</c>
        /// writes it, with the entries the listing leaves out. Throws
        /// MalformedTableException for a table that breaks, where
        /// <c>qbdump --check</c> says it does.</summary>
        public static DbgparseListing Listing(byte[] table)
        {
            if (table == null)
            {
                throw new ArgumentNullException(nameof(table));
            }
            var text = new MemoryStream();
            var leftOut = new List<DbgparseLeftOut>();
            MalformedTableException fault = null;
            ExceptionDispatchInfo failure = null;
            ByteSink sink = (context, bytes, size) =>
            {
                try
                {
                    var piece = new byte[checked((int)size.ToUInt64())];
                    Marshal.Copy(bytes, piece, 0, piece.Length);
                    text.Write(piece, 0, piece.Length);
                    return 0;
                }
                catch (Exception caught)
                {
                    failure = ExceptionDispatchInfo.Capture(caught);
                    return 1;
                }
            };
            WarningSink warn = (context, pointer) =>
            {
                try
                {
                    var warning = (NativeWarning)Marshal.PtrToStructure(pointer, typeof(NativeWarning));
                    string message = Marshal.PtrToStringAnsi(warning.Message);
                    long offset = (long)warning.Offset.ToUInt64();
                    // `line` holds a left-out entry's number in every 2.x.
                    if (warning.Kind == WarningLeftOut)
                    {
                        leftOut.Add(new DbgparseLeftOut((long)warning.Line.ToUInt64(), offset, message));
                    }
                    else if (warning.Kind == WarningMalformed)
                    {
                        fault = new MalformedTableException(offset, message);
                    }
                    return 0;
                }
                catch (Exception caught)
                {
                    failure = ExceptionDispatchInfo.Capture(caught);
                    return 1;
                }
            };
            int status = dbgparse_list(table, (UIntPtr)table.Length, sink, IntPtr.Zero, warn, IntPtr.Zero);
            GC.KeepAlive(sink);
            GC.KeepAlive(warn);
            failure?.Throw();
            if (status == ErrorMalformed)
            {
                if (fault == null)
                {
                    // A 2.0 library does not tell the fault: the reader does.
                    Entries(table);
                    Check(status);
                }
                throw fault;
            }
            Check(status);
            return new DbgparseListing(text.ToArray(), leftOut);
        }

        private static void Check(int status)
        {
            if (status == Ok)
            {
                return;
            }
            if (status == ErrorNoMemory)
            {
                throw new OutOfMemoryException("dbgparse: the memory the call needs could not be had");
            }
            throw new DbgparseException(status, Marshal.PtrToStringAnsi(dbgparse_status_text(status)));
        }
    }
}
