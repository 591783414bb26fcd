// SPDX-License-Identifier: GPL-2.0-only
/*
 * Interrupt requests 18..20: the PC's ISA lines 0..15 forwarded to processes as real-time signals.
 *
 * A line is hooked while at least one descriptor listens on it; each descriptor listens at most once
 * per line, on behalf of the process that asked. Every interrupt on a hooked line is counted and
 * sent to each listener's process with si_errno = the listener's cookie and si_code = the line. The
 * module does not know the device behind the line: quieting it is the process's work, so only
 * edge-triggered lines are taken (a level-triggered line would fire again at once, for ever).
 *
 * An interrupt that no listening process could take (its queue of pending signals is full, or it
 * is gone) is counted as lost, reported in the kernel log at a limited rate, and answered IRQ_NONE,
 * so that the kernel sees a storm on a line nobody drains and can shut the line down.
 */
#define pr_fmt(fmt) KBUILD_MODNAME ": " fmt

#include <linux/interrupt.h>
#include <linux/irq.h>
#include <linux/list.h>
#include <linux/mutex.h>
#include <linux/pid.h>
#include <linux/printk.h>
#include <linux/sched/signal.h>
#include <linux/slab.h>
#include <linux/spinlock.h>
#include <linux/uaccess.h>

#include "ferrox.h"

/*
 * The C library keeps the first two real-time signals for its threads; the first one a program
 * may use is 34.
 */
#define FERROX_SIGNAL_FIRST (SIGRTMIN + 2)

struct ferrox_listener {
	struct list_head node; /* in the line's listeners */
	struct pid *process;   /* the thread group that asked, and receives the signals */
	int signal;
	u32 cookie;
	pid_t last_receiver; /* the thread that took the last signal (its kernel-wide id), or 0 */
};

struct ferrox_line {
	/* Protects listeners against the interrupt handler, which walks them. */
	spinlock_t lock;
	struct list_head listeners;
	atomic_t count; /* interrupts since the module was loaded, counted while hooked */
	atomic_t lost;  /* interrupts that no listening process could take */
	bool hooked;    /* the handler is installed; under lines_mutex */
};

/* Serialises listener changes and hooking and unhooking of lines, across all descriptors. */
static DEFINE_MUTEX(lines_mutex);
static struct ferrox_line lines[FERROX_IRQ_LINES];

void ferrox_lines_init(void)
{
	unsigned int i;

	for (i = 0; i < FERROX_IRQ_LINES; i++) {
		spin_lock_init(&lines[i].lock);
		INIT_LIST_HEAD(&lines[i].listeners);
		atomic_set(&lines[i].count, 0);
		atomic_set(&lines[i].lost, 0);
	}
}

/*
 * The thread that is to take a signal meant for the whole process. Of the calls exported to a
 * module, send_sig_info alone carries a siginfo of its own (the cookie and the line), and it queues
 * the signal on the one task given, not on the process (kill_pid reaches the process, but with no
 * siginfo of ours). A signal pending on a thread is lost when that thread exits and seen only by
 * that thread's own waits, so the choice keeps to a thread that is not on its way out, in this
 * order: the thread that took the line's last signal, while it does not block it; another thread
 * that does not block it; the thread that took the last one even though it blocks it now (a worker
 * that takes the signals with sigwaitinfo is busy with the previous one: it finds this one at its
 * next wait); the first living thread, the group leader while it lives. Under RCU.
 */
static struct task_struct *receiving_thread(struct task_struct *leader, int signal, pid_t last)
{
	struct task_struct *t, *open = NULL, *previous = NULL, *living = NULL;

	for_each_thread(leader, t) {
		if (t->flags & PF_EXITING)
			continue;
		if (!living)
			living = t;
		if (t->pid == last)
			previous = t;
		if (!open && !sigismember(&t->blocked, signal))
			open = t;
	}
	if (previous && !sigismember(&previous->blocked, signal))
		return previous;
	if (open)
		return open;
	return previous ? previous : living;
}

/* True when the listener's process took the signal. Under the line's lock. */
static bool notify(struct ferrox_listener *l, unsigned int line)
{
	struct kernel_siginfo info;
	struct task_struct *leader, *thread;
	bool taken = false;

	clear_siginfo(&info);
	info.si_signo = l->signal;
	info.si_errno = (int)l->cookie;
	info.si_code = line;
	rcu_read_lock();
	leader = pid_task(l->process, PIDTYPE_TGID);
	thread = leader ? receiving_thread(leader, l->signal, l->last_receiver) : NULL;
	if (thread && send_sig_info(l->signal, &info, thread) == 0) {
		l->last_receiver = thread->pid;
		taken = true;
	}
	rcu_read_unlock();
	return taken;
}

static irqreturn_t line_interrupt(int irq, void *data)
{
	struct ferrox_line *line = data;
	struct ferrox_listener *l;
	bool listened = false, taken = false;
	unsigned long flags;
	int lost;

	atomic_inc(&line->count);
	spin_lock_irqsave(&line->lock, flags);
	list_for_each_entry(l, &line->listeners, node) {
		listened = true;
		taken |= notify(l, line - lines);
	}
	spin_unlock_irqrestore(&line->lock, flags);
	if (taken)
		return IRQ_HANDLED;
	if (listened) {
		lost = atomic_inc_return(&line->lost);
		pr_warn_ratelimited("irq %d: %d interrupts that no listening process could take\n", irq, lost);
	}
	return IRQ_NONE;
}

/*
 * The trigger type is known before the line is taken (the firmware's tables set it at boot), so a
 * level-triggered line is refused without ever being unmasked. A line another driver holds is
 * refused before asking for it, since the kernel logs every refused request, and a process could
 * otherwise fill the log.
 */
static int line_hook(unsigned int irq)
{
	struct irq_data *data = irq_get_irq_data(irq);
	int err;

	if (!data)
		return -EINVAL;
	if (irq_has_action(irq))
		return -EBUSY;
	if (irqd_is_level_type(data))
		return -EOPNOTSUPP;
	err = request_irq(irq, line_interrupt, 0, FERROX_DEVICE_NAME, &lines[irq]);
	if (err)
		return err;
	lines[irq].hooked = true;
	return 0;
}

static void line_unhook(unsigned int irq)
{
	/* Waits for a handler still running on another CPU. */
	free_irq(irq, &lines[irq]);
	lines[irq].hooked = false;
}

/*
 * The calling process names itself, and the signal is one that queues instead of merging and that
 * the C library leaves to programs.
 */
static bool irq_request_valid(const struct ferrox_irq_request *r)
{
	return r->irq < FERROX_IRQ_LINES && r->process_id == task_tgid_vnr(current) &&
	       r->signal >= FERROX_SIGNAL_FIRST && r->signal <= SIGRTMAX;
}

/*
 * Copies the request in and checks it; EPERM when another process listens on the line through this
 * descriptor. The descriptor's listeners change only under its lock, which the caller holds.
 */
static long irq_request_read(struct ferrox_file *f, struct ferrox_irq_request __user *request,
			     struct ferrox_irq_request *r)
{
	const struct ferrox_listener *l;

	if (copy_from_user(r, request, sizeof(*r)))
		return -EFAULT;
	if (!irq_request_valid(r))
		return -EINVAL;
	l = f->listeners[r->irq];
	return l && !ferrox_owned_by_caller(l->process) ? -EPERM : 0;
}

long ferrox_irq_unmask(struct ferrox_file *f, struct ferrox_irq_request __user *request)
{
	struct ferrox_irq_request r;
	struct ferrox_listener *l;
	struct ferrox_line *line;
	long err;

	err = irq_request_read(f, request, &r);
	if (err)
		return err;
	mutex_lock(&lines_mutex);
	if (f->listeners[r.irq]) {
		err = -EBUSY;
		goto out;
	}
	l = kzalloc(sizeof(*l), GFP_KERNEL_ACCOUNT);
	if (!l) {
		err = -ENOMEM;
		goto out;
	}
	line = &lines[r.irq];
	if (!line->hooked) {
		err = line_hook(r.irq);
		if (err)
			goto err_free;
	}
	l->process = get_pid(task_tgid(current));
	l->signal = r.signal;
	l->cookie = r.cookie;
	spin_lock_irq(&line->lock);
	list_add_tail(&l->node, &line->listeners);
	spin_unlock_irq(&line->lock);
	f->listeners[r.irq] = l;
	goto out;

err_free:
	kfree(l);
out:
	mutex_unlock(&lines_mutex);
	return err;
}

/* Under lines_mutex. */
static void listener_remove(struct ferrox_file *f, unsigned int irq)
{
	struct ferrox_listener *l = f->listeners[irq];
	struct ferrox_line *line = &lines[irq];

	spin_lock_irq(&line->lock);
	list_del(&l->node);
	spin_unlock_irq(&line->lock);
	if (list_empty(&line->listeners))
		line_unhook(irq);
	f->listeners[irq] = NULL;
	put_pid(l->process);
	kfree(l);
}

long ferrox_irq_mask(struct ferrox_file *f, struct ferrox_irq_request __user *request)
{
	struct ferrox_irq_request r;
	long err;

	err = irq_request_read(f, request, &r);
	if (err)
		return err;
	if (!f->listeners[r.irq])
		return -EINVAL;
	mutex_lock(&lines_mutex);
	listener_remove(f, r.irq);
	mutex_unlock(&lines_mutex);
	return 0;
}

/* Kept below 2^31 so that no count reads as a failed request. */
long ferrox_irq_count(unsigned long line)
{
	if (line >= FERROX_IRQ_LINES)
		return -EINVAL;
	return atomic_read(&lines[line].count) & 0x7FFFFFFF;
}

void ferrox_irq_release(struct ferrox_file *f)
{
	unsigned int irq;

	mutex_lock(&lines_mutex);
	for (irq = 0; irq < FERROX_IRQ_LINES; irq++)
		if (f->listeners[irq])
			listener_remove(f, irq);
	mutex_unlock(&lines_mutex);
}
